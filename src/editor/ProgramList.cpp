#include "editor/ProgramList.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>

namespace tonvero {

namespace {

// The General MIDI programs, then the drum set, each after its zero-padded
// number, so the list's sorted order is the program order.
constexpr const char* kEntries[kProgramListEntries] = {
    "000 - Acoustic Grand",
    "001 - Bright Acoustic",
    "002 - Electric Grand",
    "003 - Honky-Tonk",
    "004 - Electric Piano 1",
    "005 - Electric Piano 2",
    "006 - Harpsichord",
    "007 - Clav",
    "008 - Celesta",
    "009 - Glockenspiel",
    "010 - Music Box",
    "011 - Vibraphone",
    "012 - Marimba",
    "013 - Xylophone",
    "014 - Tubular Bells",
    "015 - Dulcimer",
    "016 - Drawbar Organ",
    "017 - Percussive Organ",
    "018 - Rock Organ",
    "019 - Church Organ",
    "020 - Reed Organ",
    "021 - Accordian",
    "022 - Harmonica",
    "023 - Tango Accordian",
    "024 - Acoustic Guitar(nylon)",
    "025 - Acoustic Guitar(steel)",
    "026 - Electric Guitar(jazz)",
    "027 - Electric Guitar(clean)",
    "028 - Electric Guitar(muted)",
    "029 - Overdriven Guitar",
    "030 - Distortion Guitar",
    "031 - Guitar Harmonics",
    "032 - Acoustic Bass",
    "033 - Electric Bass(finger)",
    "034 - Electric Bass(pick)",
    "035 - Fretless Bass",
    "036 - Slap Bass 1",
    "037 - Slap Bass 2",
    "038 - Synth Bass 1",
    "039 - Synth Bass 2",
    "040 - Violin",
    "041 - Viola",
    "042 - Cello",
    "043 - Contrabass",
    "044 - Tremolo Strings",
    "045 - Pizzicato Strings",
    "046 - Orchestral Strings",
    "047 - Timpani",
    "048 - String Ensemble 1",
    "049 - String Ensemble 2",
    "050 - SynthStrings 1",
    "051 - SynthStrings 2",
    "052 - Choir Aahs",
    "053 - Voice Oohs",
    "054 - Synth Voice",
    "055 - Orchestra Hit",
    "056 - Trumpet",
    "057 - Trombone",
    "058 - Tuba",
    "059 - Muted Trumpet",
    "060 - French Horn",
    "061 - Brass Section",
    "062 - SynthBrass 1",
    "063 - SynthBrass 2",
    "064 - Soprano Sax",
    "065 - Alto Sax",
    "066 - Tenor Sax",
    "067 - Baritone Sax",
    "068 - Oboe",
    "069 - English Horn",
    "070 - Bassoon",
    "071 - Clarinet",
    "072 - Piccolo",
    "073 - Flute",
    "074 - Recorder",
    "075 - Pan Flute",
    "076 - Blown Bottle",
    "077 - Skakuhachi",
    "078 - Whistle",
    "079 - Ocarina",
    "080 - Lead 1 (square)",
    "081 - Lead 2 (sawtooth)",
    "082 - Lead 3 (calliope)",
    "083 - Lead 4 (chiff)",
    "084 - Lead 5 (charang)",
    "085 - Lead 6 (voice)",
    "086 - Lead 7 (fifths)",
    "087 - Lead 8 (bass+lead)",
    "088 - Pad 1 (new age)",
    "089 - Pad 2 (warm)",
    "090 - Pad 3 (polysynth)",
    "091 - Pad 4 (choir)",
    "092 - Pad 5 (bowed)",
    "093 - Pad 6 (metallic)",
    "094 - Pad 7 (halo)",
    "095 - Pad 8 (sweep)",
    "096 - FX 1 (rain)",
    "097 - FX 2 (soundtrack)",
    "098 - FX 3 (crystal)",
    "099 - FX 4 (atmosphere)",
    "100 - FX 5 (brightness)",
    "101 - FX 6 (goblins)",
    "102 - FX 7 (echoes)",
    "103 - FX 8 (sci-fi)",
    "104 - Sitar",
    "105 - Banjo",
    "106 - Shamisen",
    "107 - Koto",
    "108 - Kalimba",
    "109 - Bagpipe",
    "110 - Fiddle",
    "111 - Shanai",
    "112 - Tinkle Bell",
    "113 - Agogo",
    "114 - Steel Drums",
    "115 - Woodblock",
    "116 - Taiko Drum",
    "117 - Melodic Tom",
    "118 - Synth Drum",
    "119 - Reverse Cymbal",
    "120 - Guitar Fret Noise",
    "121 - Breath Noise",
    "122 - Seashore",
    "123 - Bird Tweet",
    "124 - Telephone Ring",
    "125 - Helicopter",
    "126 - Applause",
    "127 - Gunshot",
    "128 - Drums Collection",
};

}  // namespace

QString programListEntry(int program) {
    if (program < 0 || program >= kProgramListEntries) return {};
    return QString::fromLatin1(kEntries[program]);
}

int findProgramEntry(const QString& typed) {
    const QString text = typed.trimmed();
    if (text.isEmpty()) return -1;
    bool number = false;
    const int program = text.toInt(&number);
    if (number) return program >= 0 && program < kProgramListEntries ? program : -1;
    const auto name = [](int p) { return QString::fromLatin1(kEntries[p]).mid(6); };  // after "000 - "
    for (int p = 0; p < kProgramListEntries; ++p)
        if (name(p).startsWith(text, Qt::CaseInsensitive)) return p;
    for (int p = 0; p < kProgramListEntries; ++p)
        if (name(p).contains(text, Qt::CaseInsensitive)) return p;
    return -1;
}

namespace {

// Gathers what is typed into the list (or its open popup) and chooses the entry it finds.
class ProgramSearch : public QObject {
public:
    explicit ProgramSearch(QComboBox* list) : QObject(list), list_(list) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.isEmpty() || !text.at(0).isPrint() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return QObject::eventFilter(watched, event);
        // Keys more than a second apart start a new search.
        if (!sinceLastKey_.isValid() || sinceLastKey_.elapsed() > 1000) typed_.clear();
        sinceLastKey_.start();
        typed_ += text;
        const int found = findProgramEntry(typed_);
        if (found >= 0 && found < list_->count()) {
            list_->setCurrentIndex(found);
            if (list_->view() && list_->view()->isVisible())
                list_->view()->setCurrentIndex(list_->model()->index(found, 0));
            emit list_->activated(found);
        }
        return true;
    }

private:
    QComboBox* list_;
    QString typed_;
    QElapsedTimer sinceLastKey_;
};

}  // namespace

void enableProgramSearch(QComboBox* list) {
    auto* search = new ProgramSearch(list);
    list->installEventFilter(search);
    if (list->view()) list->view()->installEventFilter(search);
}

}  // namespace tonvero
