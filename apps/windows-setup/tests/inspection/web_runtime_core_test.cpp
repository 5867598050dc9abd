#include "inspection/web_runtime_core.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/command_line.hpp"

namespace mirel {
namespace {

// A stream of `size` bytes with a recognisable pattern, handed out in pieces of at most `piece`.
struct FakeStream {
    std::vector<std::byte> bytes;
    std::size_t piece = RUNTIME_CHUNK_SIZE;
    std::size_t position = 0;
    int reads = 0;
    bool buffers_were_clear = true;

    explicit FakeStream(std::size_t size, std::size_t piece_size = RUNTIME_CHUNK_SIZE)
        : bytes(size), piece(piece_size) {
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>((i * 7 + i / 251) & 0xFF);
        if (size > 0) bytes.back() = std::byte{0x5A};
    }
    ChunkReader reader() {
        return [this](std::span<std::byte> buffer) -> std::optional<std::size_t> {
            ++reads;
            buffers_were_clear =
                buffers_were_clear && std::ranges::all_of(buffer, [](std::byte b) { return b == std::byte{0}; });
            const std::size_t count = std::min({piece, buffer.size(), bytes.size() - position});
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(position), count, buffer.begin());
            position += count;
            return count;
        };
    }
};

struct FakeFile {
    std::vector<std::byte> written;
    int writes = 0;
    int flushes = 0;
    ChunkWriter writer() {
        return [this](std::span<const std::byte> chunk) {
            ++writes;
            written.insert(written.end(), chunk.begin(), chunk.end());
            return true;
        };
    }
    std::function<bool()> flusher() {
        return [this] {
            ++flushes;
            return true;
        };
    }
};

std::string outcome(const Result<std::vector<std::byte>>& result) {
    return result ? "success" : result.error().text();
}

TEST(CopyRuntimeStream, SizeLimitsAreInclusive) {
    const std::pair<std::size_t, const char*> cases[] = {
        {0, "installer_runtime_payload"},         {1, "installer_runtime_payload"},
        {511, "installer_runtime_payload"},       {512, "success"},
        {RUNTIME_CHUNK_SIZE + 1, "success"},      {8'388'608, "success"},
        {8'388'609, "installer_runtime_payload"},
    };
    for (const auto& [size, expected] : cases) {
        FakeStream stream(size);
        FakeFile file;
        const auto copy = copy_runtime_stream(stream.reader(), file.writer(), file.flusher());
        ASSERT_EQ(outcome(copy), expected) << size;
        if (copy) {
            EXPECT_EQ(*copy, stream.bytes) << size;
            EXPECT_EQ(file.written, stream.bytes) << size;
            EXPECT_EQ(file.flushes, 1) << size;
        }
        EXPECT_TRUE(stream.buffers_were_clear) << size;
    }
}

TEST(CopyRuntimeStream, AnOversizedStreamStopsAtTheChunkThatPassesTheLimit) {
    FakeStream stream(RUNTIME_MAXIMUM_SIZE + 4 * RUNTIME_CHUNK_SIZE);
    FakeFile file;
    EXPECT_EQ(outcome(copy_runtime_stream(stream.reader(), file.writer(), file.flusher())),
              "installer_runtime_payload");
    EXPECT_EQ(stream.reads, 257);  // 256 full pieces reach the limit exactly
    EXPECT_EQ(file.written.size(), RUNTIME_MAXIMUM_SIZE);
    EXPECT_EQ(file.flushes, 0);

    // Uneven pieces: the running total, not the piece count, decides.
    FakeStream uneven(RUNTIME_MAXIMUM_SIZE + 1, 30'000);
    FakeFile other;
    EXPECT_EQ(outcome(copy_runtime_stream(uneven.reader(), other.writer(), other.flusher())),
              "installer_runtime_payload");
    EXPECT_EQ(uneven.reads, 280);  // 279 pieces stay within it, the next one passes it
    EXPECT_EQ(other.written.size(), 8'370'000u);
}

TEST(CopyRuntimeStream, ReadWriteAndFlushFailuresAreFailures) {
    FakeFile file;
    const ChunkReader failing_read = [](std::span<std::byte>) { return std::optional<std::size_t>(); };
    EXPECT_EQ(outcome(copy_runtime_stream(failing_read, file.writer(), file.flusher())), "installer_runtime_payload");

    const ChunkReader overlong_read = [](std::span<std::byte> buffer) {
        return std::optional<std::size_t>(buffer.size() + 1);
    };
    EXPECT_EQ(outcome(copy_runtime_stream(overlong_read, file.writer(), file.flusher())), "installer_runtime_payload");

    FakeStream stream(4096);
    int writes = 0;
    const ChunkWriter failing_write = [&](std::span<const std::byte>) { return ++writes < 2; };
    FakeStream pieces(4096, 1024);
    EXPECT_EQ(outcome(copy_runtime_stream(pieces.reader(), failing_write, file.flusher())),
              "installer_runtime_payload");
    EXPECT_EQ(writes, 2);

    EXPECT_EQ(outcome(copy_runtime_stream(stream.reader(), file.writer(), [] { return false; })),
              "installer_runtime_payload");
}

TEST(CompareReadBack, TheFileMustHoldExactlyTheBytesRead) {
    const FakeStream source(100'000);
    const std::span<const std::byte> expected(source.bytes);
    std::vector<std::byte> buffer(32'768);
    const auto compare = [&](const ChunkReader& read) { return compare_read_back(read, expected, buffer); };

    FakeStream same(100'000);
    EXPECT_EQ(compare(same.reader()), ReadBack::Same);
    FakeStream same_in_small_pieces(100'000, 999);
    EXPECT_EQ(compare(same_in_small_pieces.reader()), ReadBack::Same);

    FakeStream changed(100'000);
    changed.bytes[99'999] ^= std::byte{1};
    EXPECT_EQ(compare(changed.reader()), ReadBack::Different);
    FakeStream shorter(99'999);
    EXPECT_EQ(compare(shorter.reader()), ReadBack::Different);
    // A read that would run past the expected end, although the first bytes agree.
    FakeStream longer(200'000);
    std::copy(source.bytes.begin(), source.bytes.end(), longer.bytes.begin());
    EXPECT_EQ(compare(longer.reader()), ReadBack::Different);

    EXPECT_EQ(compare([](std::span<std::byte>) { return std::optional<std::size_t>(); }), ReadBack::ReadFailed);
}

TEST(VerifierLocations, PowerShellAndItsModulesBelowTheSystemDirectory) {
    for (const char* directory : {"C:\\Windows\\system32", "C:\\Windows\\system32\\"}) {
        const auto locations = verifier_locations(directory);
        ASSERT_TRUE(locations.has_value());
        EXPECT_EQ(locations->program, "C:\\Windows\\system32\\WindowsPowerShell/v1.0/powershell.exe");
        EXPECT_EQ(locations->module_directory, "C:\\Windows\\system32\\WindowsPowerShell/v1.0\\Modules");
    }
}

TEST(VerifierCommandLine, TheScriptTravelsQuotedAndUnchanged) {
    const std::string file = "C:\\Users\\Test User\\AppData\\Local\\Temp\\MirelSetup-8-9-0\\webview.exe";
    const auto command =
        build_command_line("C:\\Windows\\system32\\WindowsPowerShell/v1.0/powershell.exe", verifier_arguments(file));
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(*command,
              "\"C:\\Windows\\system32\\WindowsPowerShell/v1.0/powershell.exe\" -NoProfile -NonInteractive -Command "
              "\"& { param($p) $s=Get-AuthenticodeSignature -LiteralPath $p; if ($s.Status -ne 'Valid' -or "
              "$s.SignerCertificate.Subject -notmatch '(^|,\\s*)O=Microsoft Corporation(,|$)') { exit 1 }; exit 0 }\" "
              "\"'C:\\Users\\Test User\\AppData\\Local\\Temp\\MirelSetup-8-9-0\\webview.exe'\"");
}

TEST(VerifierCommandLine, ThePathIsAPowerShellLiteralWhateverItHolds) {
    EXPECT_EQ(powershell_literal("C:\\Temp\\webview.exe"), "'C:\\Temp\\webview.exe'");
    EXPECT_EQ(powershell_literal("C:\\Users\\O'Brien $(calc)\\w.exe"), "'C:\\Users\\O''Brien $(calc)\\w.exe'");
    // Typographic single quotes end a PowerShell string too; other characters of that block do not.
    EXPECT_EQ(powershell_literal("a\u2018b\u2019c\u201Ad\u201Be\u201Cf"),
              "'a\u2018\u2018b\u2019\u2019c\u201A\u201Ad\u201B\u201Be\u201Cf'");
    EXPECT_EQ(powershell_literal(""), "''");
    EXPECT_EQ(powershell_literal("\xE2\x80"), "'\xE2\x80'");  // a cut sequence is copied as it is
    EXPECT_EQ(verifier_arguments("C:\\x y").back(), "'C:\\x y'");
}

std::u16string block_of(std::initializer_list<std::u16string_view> entries) {
    std::u16string block;
    for (const auto entry : entries) {
        block.append(entry);
        block.push_back(u'\0');
    }
    block.push_back(u'\0');
    return block;
}

TEST(VerifierEnvironment, TheBlockSplitsIntoItsEntries) {
    const std::u16string block = block_of({u"=C:=C:\\x", u"A=1", u"B=x=y"});
    const std::vector<std::u16string> expected = {u"=C:=C:\\x", u"A=1", u"B=x=y"};
    EXPECT_EQ(environment_entries(block), expected);
    EXPECT_TRUE(environment_entries(block_of({})).empty());
}

TEST(VerifierEnvironment, AnInheritedModulePathInAnyLetterCaseIsReplacedInPlace) {
    for (const std::u16string_view inherited : {u"PSModulePath", u"PSMODULEPATH", u"psmodulepath", u"PsModulePath"}) {
        const std::vector<std::u16string> entries = {u"ALLUSERSPROFILE=C:\\ProgramData",
                                                     std::u16string(inherited) + u"=C:\\evil;D:\\mods", u"Path=C:\\x",
                                                     u"SystemRoot=C:\\Windows"};
        EXPECT_EQ(environment_block_with(entries, u"PSModulePath", u"C:\\Mods"),
                  block_of({u"ALLUSERSPROFILE=C:\\ProgramData", u"PSModulePath=C:\\Mods", u"Path=C:\\x",
                            u"SystemRoot=C:\\Windows"}));
    }
}

TEST(VerifierEnvironment, EveryCopyOfTheVariableGoesAndLookAlikesStay) {
    const std::vector<std::u16string> entries = {u"PSMODULEPATH=a", u"PSModulePathX=b", u"PSModulePat=c",
                                                 u"psmodulepath=d", u"=PSModulePath=e"};
    EXPECT_EQ(environment_block_with(entries, u"PSModulePath", u"M"),
              block_of({u"PSModulePath=M", u"PSModulePathX=b", u"PSModulePat=c", u"=PSModulePath=e"}));
}

TEST(VerifierEnvironment, AMissingVariableIsAddedWhereASortedBlockKeepsItsOrder) {
    EXPECT_EQ(environment_block_with({u"=C:=C:\\x", u"Path=C:\\x", u"SystemRoot=C:\\Windows"}, u"PSModulePath", u"M"),
              block_of({u"=C:=C:\\x", u"Path=C:\\x", u"PSModulePath=M", u"SystemRoot=C:\\Windows"}));
    EXPECT_EQ(environment_block_with({u"=C:=C:\\x", u"A=1"}, u"PSModulePath", u"M"),
              block_of({u"=C:=C:\\x", u"A=1", u"PSModulePath=M"}));
    EXPECT_EQ(environment_block_with({}, u"PSModulePath", u"M"), block_of({u"PSModulePath=M"}));
}

}  // namespace
}  // namespace mirel
