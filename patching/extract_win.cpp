#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <utility>

#include "common/handles.h"
#include "common/text.h"
#include "launcher/catalogue.h"
#include "patching/entry_path.h"
#include "patching/extract.h"
#include "patching/write_behind.h"
#include "selfupdate/staging.h"
#include "zip/zip_reader.h"

namespace {

// Best effort, like any stamp: a bad DOS date leaves the write time as it is.
void stampModificationTime(HANDLE file, std::uint16_t dosDate, std::uint16_t dosTime) {
    FILETIME local = {};
    FILETIME utc = {};
    if (!DosDateTimeToFileTime(dosDate, dosTime, &local)) return;
    if (!LocalFileTimeToFileTime(&local, &utc)) return;
    SetFileTime(file, nullptr, &utc, &utc);
}

// Inflated bytes are gathered into pieces of this size before each WriteFile: every
// call is a round trip to the file system (a server call under Wine), and the reader
// hands over much smaller pieces.
constexpr std::size_t kWriteBatchSize = 4u << 20;
// What may wait for the file thread: one batch (while another is written and a third
// filled), and enough small steps that a patch of many small files hands them over in
// bulk.
constexpr std::size_t kMaxWaitingBytes = kWriteBatchSize;
constexpr std::size_t kMaxWaitingSteps = 4096;
// A last piece smaller than this travels in a buffer of its own size, so that thousands
// of small files waiting do not each hold a whole batch.
constexpr std::size_t kSmallTail = kWriteBatchSize / 4;

bool writeAll(HANDLE file, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written != chunk) return false;
        bytes += chunk;
        count -= chunk;
    }
    return true;
}

UniqueHandle createEntryFile(const std::wstring& path, DWORD disposition) {
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Emptied batch buffers, handed back by the file thread for the next pieces: a fresh
// 4 MiB buffer per batch would be new memory to touch every time.
class BatchPool {
public:
    BatchPool() { spare_.reserve(kKeptBatches); }

    std::vector<unsigned char> take() {
        std::vector<unsigned char> batch;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!spare_.empty()) {
                batch = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        batch.clear();
        batch.reserve(kWriteBatchSize);
        return batch;
    }
    void give(std::vector<unsigned char>& batch) {
        if (batch.capacity() < kWriteBatchSize) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (spare_.size() < kKeptBatches) spare_.push_back(std::move(batch));
    }

private:
    // As many as can be in use at once: one waiting, one being written, one filled.
    static constexpr std::size_t kKeptBatches = 3;
    std::mutex mutex_;
    std::vector<std::vector<unsigned char>> spare_;
};

// The file system side of an extraction, run on the file thread step by step: the file
// of the entry being written, and what became of the file entries so far.
class EntryWriter {
public:
    explicit EntryWriter(BatchPool& pool) : pool_(pool) {}
    EntryWriter(const EntryWriter&) = delete;
    EntryWriter& operator=(const EntryWriter&) = delete;
    // An entry begun and never ended (the extraction gave up midway) leaves no file.
    ~EntryWriter() {
        if (!file_) return;
        file_.reset();
        DeleteFileW(written_.c_str());
    }

    void run(FileStep& step) {
        switch (step.kind) {
        case FileStep::Kind::MakeFolder:
            SHCreateDirectoryExW(nullptr, step.path.c_str(), nullptr);
            break;
        case FileStep::Kind::BeginFile:
            begin(step);
            break;
        case FileStep::Kind::Write:
            if (file_ && !entryFailed_ && !writeAll(file_.get(), step.bytes.data(), step.bytes.size()))
                entryFailed_ = true;
            break;
        case FileStep::Kind::EndFile:
            end(step);
            break;
        }
        pool_.give(step.bytes);
    }

    std::int32_t extracted() const { return extractedEntries_; }
    std::int32_t failed() const { return failedEntries_; }

private:
    // A file already standing at the target is replaced only by a complete, checked
    // copy written beside it. A target that does not exist yet has nothing to protect:
    // it is created in place, and the creation itself tells which case holds.
    void begin(const FileStep& step) {
        target_ = step.path;
        dosDate_ = step.dosDate;
        dosTime_ = step.dosTime;
        entryFailed_ = false;
        written_ = target_;
        file_ = createEntryFile(written_, CREATE_NEW);
        if (file_) return;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return;
        written_ = replacementPathFor(target_);
        file_ = createEntryFile(written_, CREATE_ALWAYS);
    }

    // Everything before the last piece is already on disk; the last piece is written
    // only when the whole entry passed its checks. A file that did not is removed.
    void end(const FileStep& step) {
        if (!file_) {
            ++failedEntries_;
            return;
        }
        const bool complete = step.inflated && !entryFailed_ &&
                              writeAll(file_.get(), step.bytes.data(), step.bytes.size());
        if (complete) stampModificationTime(file_.get(), dosDate_, dosTime_);
        file_.reset();
        const bool aside = written_ != target_;
        if (!complete) {
            DeleteFileW(written_.c_str());
            ++failedEntries_;
        } else if (aside && !MoveFileExW(written_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DeleteFileW(written_.c_str());
            ++failedEntries_;
        } else {
            ++extractedEntries_;
        }
    }

    BatchPool& pool_;
    UniqueHandle file_;
    std::wstring target_;
    std::wstring written_;  // the target itself, or the copy beside it
    std::uint16_t dosDate_ = 0;
    std::uint16_t dosTime_ = 0;
    bool entryFailed_ = false;
    std::int32_t extractedEntries_ = 0;
    std::int32_t failedEntries_ = 0;
};

// What one extraction keeps from entry to entry on the inflating side: the folders
// already asked for (each entry would otherwise ask for its folder again, a file-system
// call per entry), the file thread and its buffers.
struct ExtractionState {
    std::set<std::wstring> madeFolders;
    BatchPool pool;
    EntryWriter writer{pool};
    WriteBehind files{kMaxWaitingSteps, kMaxWaitingBytes, [this](FileStep& step) { writer.run(step); }};

    void makeFolder(const std::wstring& folder) {
        if (!madeFolders.insert(folder).second) return;
        FileStep step;
        step.kind = FileStep::Kind::MakeFolder;
        step.path = folder;
        files.queue(std::move(step));
    }
};

// Inflates the entry and hands its bytes to the file thread in batches; the outcome is
// counted there, once the file is written.
void queueFileEntry(const ZipArchive& zip, std::uint32_t index, const ZipEntryInfo& info,
                    const std::wstring& target, ExtractionState& state) {
    FileStep begin;
    begin.kind = FileStep::Kind::BeginFile;
    begin.path = target;
    begin.dosDate = info.dosDate;
    begin.dosTime = info.dosTime;
    state.files.queue(std::move(begin));

    std::vector<unsigned char> batch = state.pool.take();
    const bool inflated = zipExtractToSink(zip, index, [&](const unsigned char* bytes,
                                                           std::size_t count) {
        if (batch.size() + count > kWriteBatchSize) {
            FileStep write;
            write.bytes = std::move(batch);
            state.files.queue(std::move(write));
            batch = state.pool.take();
        }
        batch.insert(batch.end(), bytes, bytes + count);
        return true;
    });

    FileStep end;
    end.kind = FileStep::Kind::EndFile;
    end.inflated = inflated;
    if (inflated) {
        if (batch.size() < kSmallTail)
            end.bytes.assign(batch.begin(), batch.end());
        else
            end.bytes = std::move(batch);
    }
    state.files.queue(std::move(end));
    // The batch serves the next entry instead of going back to the system.
    state.pool.give(batch);
}

enum class EntryOutcome { Extracted, Failed, Queued };

// A file entry is only queued here: the writer counts it once its file is written.
EntryOutcome extractEntry(const ZipArchive& zip, std::uint32_t index, const std::wstring& root,
                          ExtractionState& state) {
    ZipEntryInfo info;
    if (!zipEntryStat(zip, index, info)) return EntryOutcome::Failed;

    const std::string relative = entryRelativePath(info.name);
    if (!isSafeRelativePath(relative)) return EntryOutcome::Failed;
    const std::wstring target = root + fromUtf8(relative);

    if (isDirectoryEntry(info.isDirectory, relative)) {
        std::wstring folder = target;
        if (folder.back() == L'\\') folder.pop_back();
        state.makeFolder(folder);
        return EntryOutcome::Extracted;
    }

    const std::wstring parent = parentFolderOf(target);
    if (!parent.empty()) state.makeFolder(parent);

    // The running executable cannot be overwritten; the self-update replaces it later.
    if (!g_launcherPath.empty() && equalIgnoringAsciiCase(target, g_launcherPath))
        return stageLauncherUpdate(zip, index, target) ? EntryOutcome::Extracted
                                                       : EntryOutcome::Failed;

    queueFileEntry(zip, index, info, target, state);
    return EntryOutcome::Queued;
}

}  // namespace

bool extractPatchArchive(const std::vector<unsigned char>& archive, const std::wstring& root) {
    std::int32_t extractedCount = 0;
    std::int32_t failedCount = 0;
    if (archive.empty()) return false;

    ZipArchive zip;
    if (!zipOpenMemory(zip, archive.data(), archive.size())) return false;

    try {
        ExtractionState state;
        const std::uint32_t count = zipEntryCount(zip);
        for (std::uint32_t index = 0; index < count; ++index) {
            const EntryOutcome outcome = extractEntry(zip, index, root, state);
            if (outcome == EntryOutcome::Extracted) ++extractedCount;
            if (outcome == EntryOutcome::Failed) ++failedCount;
        }
        state.files.finish();
        extractedCount += state.writer.extracted();
        failedCount += state.writer.failed();
    } catch (...) {
        // Out of memory for a buffer or a step: what was queued has run, a file left
        // half written is removed with the writer, and the patch did not go in.
        ++failedCount;
    }
    zipClose(zip);
    return failedCount == 0 && extractedCount > 0;
}
