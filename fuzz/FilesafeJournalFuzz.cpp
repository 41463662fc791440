// fuzz/FilesafeJournalFuzz.cpp: the restore of an interrupted in-place save, from a journal whose bytes
// anyone who may write into the folder can choose. The first byte picks the shape of the input: the journal
// itself; the journal with its device and inode made those of the photo, so the checks after the head are
// reached; or an original, a new content and the file as it is now, made into a journal that is whole.
// Whatever the journal says, a file that is no photo of the scan never changes, a journal that is kept
// leaves the photo as it was, and a restore leaves exactly the original.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "filesafe/SaveJournal.h"
#include "filesafe/detail/SafeWriteCommon.h"
#include "filesafe/detail/SaveJournalFormat.h"

namespace {

namespace fs = std::filesystem;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

std::vector<std::uint8_t> Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, std::span<const std::uint8_t> bytes, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    Check(fd >= 0);
    Check(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    Check(::fchmod(fd, mode) == 0);
    ::close(fd);
}

void Append(std::vector<std::uint8_t>& to, const void* bytes, std::size_t size) {
    const auto* begin = static_cast<const std::uint8_t*>(bytes);
    to.insert(to.end(), begin, begin + size);
}

// Cuts the input into three parts at two lengths taken from its first bytes.
std::vector<std::span<const std::uint8_t>> ThreeParts(std::span<const std::uint8_t> input) {
    if (input.size() < 2) {
        return {input, {}, {}};
    }
    const std::size_t rest = input.size() - 2;
    const std::size_t first = rest == 0 ? 0 : input[0] % (rest + 1);
    const std::size_t second = rest - first == 0 ? 0 : input[1] % (rest - first + 1);
    const std::span<const std::uint8_t> body = input.subspan(2);
    return {body.first(first), body.subspan(first, second), body.subspan(first + second)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t shape = data[0] % 3;
    const std::span<const std::uint8_t> input(data + 1, size - 1);

    std::string pattern = (fs::temp_directory_path() / "zeloro-journal-fuzz-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr);
    const fs::path folder(pattern);
    const fs::path photo = folder / "a.jpg";
    const fs::path notes = folder / "notes.txt";
    const std::vector<std::uint8_t> notesBytes{'N', 'O', 'T', 'E', 'S'};
    Write(notes, notesBytes, 0644);

    std::vector<std::uint8_t> original;
    std::vector<std::uint8_t> fresh;
    std::vector<std::uint8_t> now{'P', 'H', 'O', 'T', 'O'};
    std::vector<std::uint8_t> journal;
    if (shape == 2) {
        const auto parts = ThreeParts(input);
        original.assign(parts[0].begin(), parts[0].end());
        fresh.assign(parts[1].begin(), parts[1].end());
        now.assign(parts[2].begin(), parts[2].end());
    } else {
        journal.assign(input.begin(), input.end());
    }
    Write(photo, now, 0644);
    fs::create_hard_link(photo, folder / "b.jpg");
    struct stat identity {};
    Check(::stat(photo.c_str(), &identity) == 0);

    using zeloro::detail::JournalHead;
    using zeloro::detail::kJournalFixed;
    using zeloro::detail::kJournalMagic;
    if (shape == 1 && journal.size() >= kJournalFixed) {
        JournalHead head{};
        std::memcpy(&head, journal.data() + kJournalMagic.size(), sizeof head);
        head.device = identity.st_dev;
        head.inode = identity.st_ino;
        std::memcpy(journal.data() + kJournalMagic.size(), &head, sizeof head);
    } else if (shape == 2) {
        const std::string name = "a.jpg";
        JournalHead head{};
        head.device = identity.st_dev;
        head.inode = identity.st_ino;
        head.originalSize = original.size();
        head.newSize = fresh.size();
        head.originalChecksum = zeloro::detail::Checksum(original);
        head.newChecksum = zeloro::detail::Checksum(fresh);
        head.nameLength = name.size();
        Append(journal, kJournalMagic.data(), kJournalMagic.size());
        Append(journal, &head, sizeof head);
        Append(journal, name.data(), name.size());
        Append(journal, original.data(), original.size());
        Append(journal, fresh.data(), fresh.size());
    }
    const fs::path journalPath = folder / zeloro::SaveJournalName("a.jpg");
    Write(journalPath, journal, 0600);

    const zeloro::UndoneSave undone =
        zeloro::UndoInterruptedSave(journalPath.string(), [&](const std::string& path) {
            return path == photo.string() ? zeloro::ScannedAs::photo : zeloro::ScannedAs::other;
        });

    Check(Contents(notes) == notesBytes);
    const bool journalLeft = fs::exists(journalPath);
    const std::vector<std::uint8_t> after = Contents(photo);
    Check(Contents(folder / "b.jpg") == after);
    if (undone.restored) {
        Check(!journalLeft && undone.reason.empty());
        if (shape == 2) {
            Check(after == original);
        }
    } else if (undone.finished) {
        Check(!journalLeft && after == now);
    } else {
        Check(journalLeft && !undone.reason.empty() && after == now);
    }
    if (shape == 2 && now == fresh && now != original) {
        Check(undone.finished);
    }
    if (shape == 2 && now == original) {
        Check(undone.restored || undone.finished);
    }
    fs::remove_all(folder);
    return 0;
}
