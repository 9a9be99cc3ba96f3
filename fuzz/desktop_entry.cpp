// The editor's desktop entry, as the user or a package may leave it: looked
// up for its bundle, and parsed the way a launch parses it (nothing is
// launched). A bundle found must exist.

#include <gio/gdesktopappinfo.h>
#include <sys/stat.h>

#include "fuzz/FuzzSupport.h"
#include "platform/Workspace.h"

namespace {

constexpr const char* kIdentifier = "org.trovario.Fuzz";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string home = fuzz::scratchHome();
    setenv("XDG_DATA_DIRS", home.c_str(), 1);
    mkdir((home + "/applications").c_str(), 0700);
    mkdir((home + "/Bundle.app").c_str(), 0700);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string entry = fuzz::scratchHome() + "/applications/" + kIdentifier + ".desktop";
    fuzz::writeFile(entry, fuzz::bytesOf(data, size));
    const std::optional<std::string> bundle = platform::Workspace::absolutePathForAppBundleWithIdentifier(kIdentifier);
    struct stat info {};
    if (bundle && stat(bundle->c_str(), &info) != 0) fuzz::violation("a bundle that does not exist was found");
    if (GDesktopAppInfo* app = g_desktop_app_info_new_from_filename(entry.c_str())) g_object_unref(app);
    return 0;
}
