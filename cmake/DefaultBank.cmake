# The default bank "gmpatch.map", made at build time by `tonvero-bank from-sf2`
# from Debian's General MIDI SoundFont (package timgm6mb-soundfont, installed
# by scripts/bootstrap). It lands in bin/ beside the programs, which look for
# it in the working directory first and then in their data directory, and is
# installed to share/tonvero. Neither the SoundFont nor the bank is committed.

set(TONVERO_DEFAULT_SOUNDFONT /usr/share/sounds/sf2/TimGM6mb.sf2 CACHE FILEPATH
    "General MIDI SoundFont 2 file the default bank gmpatch.map is made from")

if(NOT TARGET tonvero-bank)
  message(WARNING "tonvero-bank is not part of this build; no default bank is made.")
elseif(NOT EXISTS "${TONVERO_DEFAULT_SOUNDFONT}")
  message(WARNING "${TONVERO_DEFAULT_SOUNDFONT} is missing (install timgm6mb-soundfont, "
                  "or run scripts/bootstrap); the build makes no default bank gmpatch.map.")
else()
  set(default_bank ${CMAKE_BINARY_DIR}/bin/gmpatch.map)
  add_custom_command(
    OUTPUT ${default_bank}
    COMMAND tonvero-bank from-sf2 ${TONVERO_DEFAULT_SOUNDFONT} ${default_bank}
    DEPENDS tonvero-bank ${TONVERO_DEFAULT_SOUNDFONT}
    COMMENT "Making the default bank gmpatch.map from ${TONVERO_DEFAULT_SOUNDFONT}"
    VERBATIM)
  add_custom_target(default-bank ALL DEPENDS ${default_bank})
  install(FILES ${default_bank} DESTINATION ${CMAKE_INSTALL_DATADIR}/tonvero)
endif()
