#include "render/DefaultPatchmap.h"

#include <filesystem>
#include <system_error>

namespace tonvero {

namespace fs = std::filesystem;

std::string programDirectory(const std::string& argv0) {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && !self.empty()) return self.parent_path().string();
    if (argv0.find('/') != std::string::npos) {
        const fs::path absolute = fs::absolute(fs::path(argv0), ec);
        if (!ec) return absolute.parent_path().string();
    }
    return {};
}

std::string findDefaultPatchmap(const std::string& argv0) {
    std::error_code ec;
    if (fs::is_regular_file(kDefaultPatchmapName, ec)) return kDefaultPatchmapName;
    const std::string dir = programDirectory(argv0);
    if (!dir.empty()) {
        const fs::path beside = fs::path(dir) / kDefaultPatchmapName;
        if (fs::is_regular_file(beside, ec)) return beside.string();
        const fs::path installed = fs::path(dir) / ".." / "share" / "tonvero" / kDefaultPatchmapName;
        if (fs::is_regular_file(installed, ec)) return installed.lexically_normal().string();
    }
    return kDefaultPatchmapName;
}

}  // namespace tonvero
