#include "library/MusicLibraryDeliverer.h"

#include <glib.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "library/AudioConversion.h"
#include "library/LibraryFiling.h"
#include "library/ProgramRunner.h"
#include "library/TrackTagger.h"
#include "library/TrovarioPlaylist.h"
#include "platform/Log.h"
#include "platform/Paths.h"

namespace {

using platform::Result;
using platform::Status;

constexpr mode_t kDeliveredFileMode = 0644;

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::string stemOf(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    return name.substr(0, name.rfind('.'));
}

// A file of our own beside the destination, so that the finished file is
// moved into place within one file system.
Result<std::string> temporaryFileIn(const std::string& folder, const std::string& extension) {
    std::string pattern = folder + "/.trovario-delivery-XXXXXX." + extension;
    int fd = mkstemps(pattern.data(), int(extension.size() + 1));
    if (fd < 0) return Status::failure("cannot write in " + folder + ": " + std::strerror(errno));
    // Music is readable by the other programs of the user's session and others.
    fchmod(fd, kDeliveredFileMode);
    close(fd);
    return pattern;
}

std::string playlistTitle(const ZORAudioTrackInfo& info, const std::string& fallback) {
    std::string title = info.trackTitle() ? *info.trackTitle() : fallback;
    const auto& artist = info.trackArtistName() ? info.trackArtistName() : info.albumArtistName();
    return artist && !artist->empty() ? *artist + " - " + title : title;
}

// Converted and tagged in a temporary file, then filed; the temporary file
// never outlives a failure.
Result<std::string> fileTrack(const DeliveryRequest& request, const std::string& musicFolder,
                              const std::string& relativePath) {
    const std::string destination = musicFolder + "/" + relativePath;
    Status created = platform::createDirectories(folderOf(destination), platform::kDocumentFolderMode);
    if (!created) return created;
    const std::string extension = AudioConversion::extension(request.mEncoder);
    Result<std::string> work = temporaryFileIn(folderOf(destination), extension);
    if (!work) return work.status();
    Status done = AudioConversion::convert(request.mExportedFile, *work, request.mEncoder, request.mTimeoutSeconds);
    if (done) done = TrackTagger::tag(*work, request.mTrackInfo);
    Result<std::string> placed = done ? LibraryFiling::placeWithoutOverwriting(*work, destination) : done;
    if (!placed) unlink(work->c_str());
    return placed;
}

// Beets, MPD and the like learn of the new file; their failure does not undo
// a delivery that is complete.
void runDeliveryCommand(const std::string& command, const std::string& deliveredFile, int timeoutSeconds) {
    if (command.empty()) return;
    gchar** argv = nullptr;
    GError* error = nullptr;
    if (!g_shell_parse_argv(command.c_str(), nullptr, &argv, &error)) {
        platform::Log::error("delivery command \"%s\" cannot be read: %s", command.c_str(), error->message);
        g_error_free(error);
        return;
    }
    std::vector<std::string> arguments(argv, argv + g_strv_length(argv));
    g_strfreev(argv);
    arguments.push_back(deliveredFile);
    if (Status ran = ProgramRunner::run(arguments, timeoutSeconds); !ran)
        platform::Log::error("delivery command failed for %s: %s", deliveredFile.c_str(), ran.message().c_str());
}

Status failure(const DeliveryRequest& request, const std::string& why) {
    platform::Log::error("delivery of %s failed, the export stays there: %s", request.mExportedFile.c_str(),
                         why.c_str());
    return Status::failure(why + " (the exported file stays at " + request.mExportedFile + ")");
}

}  // namespace

Result<std::string> MusicLibraryDeliverer::deliver(const DeliveryRequest& request) {
    return deliver(request, platform::musicDirectory());
}

Result<std::string> MusicLibraryDeliverer::deliver(const DeliveryRequest& request, const std::string& folder) {
    const std::string musicFolder = platform::standardizePath(folder);
    if (access(request.mExportedFile.c_str(), R_OK) != 0)
        return failure(request, "cannot read " + request.mExportedFile + ": " + std::strerror(errno));
    const std::string fallbackTitle = stemOf(request.mExportedFile);
    const std::string relativePath = LibraryFiling::relativePath(
        request.mTrackInfo, fallbackTitle, AudioConversion::extension(request.mEncoder));
    Result<std::string> filed = fileTrack(request, musicFolder, relativePath);
    if (!filed) return failure(request, filed.message());
    const std::string filedRelative = filed->substr(musicFolder.size() + 1);
    Status listed = TrovarioPlaylist::add(musicFolder, filedRelative, TrackTagger::durationSeconds(*filed),
                                          playlistTitle(request.mTrackInfo, fallbackTitle));
    if (!listed) {
        // Half a delivery would leave a stray file that the retry duplicates.
        unlink(filed->c_str());
        return failure(request, listed.message());
    }
    if (unlink(request.mExportedFile.c_str()) != 0)
        platform::Log::warning("delivered %s but could not remove the export %s: %s", filed->c_str(),
                               request.mExportedFile.c_str(), std::strerror(errno));
    platform::Log::info("delivered %s", filed->c_str());
    runDeliveryCommand(request.mDeliveryCommand, *filed, request.mTimeoutSeconds);
    return filed;
}
