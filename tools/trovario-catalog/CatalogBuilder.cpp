#include "CatalogBuilder.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

#include "FileFingerprint.h"
#include "ProgressLine.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBatchSize = 16;

bool hasAudioExtension(const fs::path& path) {
    static const std::set<std::string> kExtensions = {".aac", ".aif", ".aifc", ".aiff", ".ape", ".caf", ".flac",
                                                      ".m4a", ".m4b", ".mp3", ".mp4", ".mpc", ".oga", ".ogg",
                                                      ".opus", ".wav", ".wma", ".wv"};
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
    return kExtensions.contains(extension);
}

// The absolute paths of the files to consider, each once, in order.
std::set<std::string> collectFiles(const std::vector<std::string>& paths, AddSummary& summary) {
    std::set<std::string> files;
    for (const std::string& given : paths) {
        std::error_code error;
        const fs::path path = fs::absolute(given, error).lexically_normal();
        if (fs::is_directory(path, error)) {
            for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, error), end;
                 !error && it != end; it.increment(error))
                if (std::error_code ignored; it->is_regular_file(ignored) && hasAudioExtension(it->path()))
                    files.insert(it->path().string());
            if (error) summary.mRefused.push_back(path.string() + ": cannot read the folder: " + error.message());
        } else if (fs::exists(path, error)) {
            files.insert(path.string());
        } else {
            summary.mRefused.push_back(given + ": no such file or folder");
        }
    }
    return files;
}

struct Outcome {
    std::optional<CatalogEntry> mEntry;
    std::string mProblem;  // why it was refused, or why it has no tags
};

// Worker threads fingerprint the files in order; the writer takes the
// outcomes as they come. Only a few wait at a time, so that covers and
// samples of a whole music collection never pile up in memory.
class FingerprintPipeline {
public:
    explicit FingerprintPipeline(std::vector<std::string> files) : mFiles(std::move(files)) {
        const size_t count = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), mFiles.size());
        for (size_t i = 0; i < count; ++i) mWorkers.emplace_back([this] { work(); });
    }
    ~FingerprintPipeline() {
        {
            std::lock_guard lock(mLock);
            mStopped = true;
        }
        mChanged.notify_all();
        for (std::thread& worker : mWorkers) worker.join();
    }

    Outcome next() {
        std::unique_lock lock(mLock);
        mChanged.wait(lock, [this] { return !mReady.empty(); });
        Outcome outcome = std::move(mReady.front());
        mReady.pop_front();
        mChanged.notify_all();
        return outcome;
    }

private:
    void work() {
        for (;;) {
            std::unique_lock lock(mLock);
            if (mStopped || mNext == mFiles.size()) return;
            const std::string& path = mFiles[mNext++];
            lock.unlock();
            Outcome outcome;
            auto entry = fingerprintFile(path, outcome.mProblem);
            if (entry) outcome.mEntry = std::move(*entry);
            else outcome.mProblem = entry.message();
            lock.lock();
            mChanged.wait(lock, [this] { return mStopped || mReady.size() < 2 * mWorkers.size(); });
            mReady.push_back(std::move(outcome));
            mChanged.notify_all();
        }
    }

    const std::vector<std::string> mFiles;
    std::vector<std::thread> mWorkers;
    std::mutex mLock;
    std::condition_variable mChanged;
    std::deque<Outcome> mReady;
    size_t mNext = 0;
    bool mStopped = false;
};

// Entries go in batches: one transaction for many is far cheaper in a large
// catalog. A batch the catalog refuses goes again entry by entry, so that
// each refusal names its file.
void store(FingerprintCatalog& catalog, std::vector<Outcome> batch, AddSummary& summary) {
    std::vector<CatalogEntry> entries;
    std::vector<std::string> untagged;
    for (Outcome& outcome : batch) {
        if (!outcome.mEntry) {
            summary.mRefused.push_back(std::move(outcome.mProblem));
            continue;
        }
        entries.push_back(std::move(*outcome.mEntry));
        untagged.push_back(std::move(outcome.mProblem));
    }
    const bool together = entries.empty() || catalog.add(entries).ok();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (platform::Status stored = together ? platform::Status::success() : catalog.add(entries[i]); !stored) {
            summary.mRefused.push_back(entries[i].mPath + ": " + stored.message());
            continue;
        }
        ++summary.mAdded;
        if (!untagged[i].empty()) summary.mUntagged.push_back(std::move(untagged[i]));
    }
}

}  // namespace

AddSummary addToCatalog(FingerprintCatalog& catalog, const std::vector<std::string>& paths, FILE* progress) {
    AddSummary summary;
    std::vector<std::string> pending;
    for (const std::string& path : collectFiles(paths, summary)) {
        auto stamp = fileStamp(path);
        if (!stamp) summary.mRefused.push_back(stamp.message());
        else if (catalog.isCurrent(path, stamp->mSize, stamp->mModified)) ++summary.mSkipped;
        else pending.push_back(path);
    }
    if (pending.empty()) return summary;
    ProgressLine line(progress, pending.size());
    FingerprintPipeline pipeline(pending);
    line.update(0);
    std::vector<Outcome> batch;
    for (size_t done = 0; done < pending.size();) {
        batch.push_back(pipeline.next());
        line.update(++done);
        if (batch.size() == kBatchSize || done == pending.size()) store(catalog, std::exchange(batch, {}), summary);
    }
    return summary;
}
