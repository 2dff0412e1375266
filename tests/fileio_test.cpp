// fileio_test.cpp - the in-memory copies of inputs that cannot be positioned
// (pipes, devices): seeks, the end of an endless source, and their release.

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "image/fileio.h"
#include "test_util.h"

namespace {

// A pipe holding these bytes with its writer closed, named as /dev/fd/N.
class PipeInput {
public:
    explicit PipeInput(const std::string& bytes)
    {
        int ends[2];
        if (pipe(ends) != 0) return;
        if (write(ends[1], bytes.data(), bytes.size()) != (ssize_t)bytes.size()) return;
        close(ends[1]);
        fd_ = ends[0];
        name_ = "/dev/fd/" + std::to_string(fd_);
    }
    ~PipeInput()
    {
        if (fd_ >= 0) close(fd_);
    }
    PipeInput(const PipeInput&) = delete;
    PipeInput& operator=(const PipeInput&) = delete;
    const char* Name() const { return name_.c_str(); }

private:
    int fd_ = -1;
    std::string name_;
};

// With 256 MiB of address space left, seeks to the end of /dev/zero; ends
// with 0 when the seek fails as it should.
void SeekToTheEndOfZeros()
{
    LeaveAddressSpace(std::size_t(256) << 20);
    FILE* file = OpenInputFile("/dev/zero");
    if (file == nullptr) std::exit(3);
    std::exit(std::fseek(file, 0, SEEK_END) == -1 ? 0 : 1);
}

std::string ReadAll(FILE* file)
{
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += (char)c;
    return text;
}

}  // namespace

TEST(InputCopyTest, SeeksFromEveryOriginLikeARegularFile)
{
    PipeInput input("0123456789");
    FILE* file = OpenInputFile(input.Name());
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fseek(file, 0, SEEK_END), 0);
    EXPECT_EQ(std::ftell(file), 10);
    ASSERT_EQ(std::fseek(file, -3, SEEK_END), 0);
    EXPECT_EQ(ReadAll(file), "789");
    ASSERT_EQ(std::fseek(file, 4, SEEK_SET), 0);
    ASSERT_EQ(std::fseek(file, 2, SEEK_CUR), 0);
    EXPECT_EQ(ReadAll(file), "6789");
    // Past the end reads nothing; before the start, or beyond the offset range, fails.
    ASSERT_EQ(std::fseek(file, 100, SEEK_END), 0);
    EXPECT_EQ(ReadAll(file), "");
    EXPECT_NE(std::fseek(file, -11, SEEK_END), 0);
    ASSERT_EQ(std::fseek(file, 5, SEEK_SET), 0);
    EXPECT_NE(std::fseek(file, LONG_MAX, SEEK_CUR), 0);
    // A second stream over the same name sees the same bytes from the start.
    FILE* again = OpenInputFile(input.Name());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(ReadAll(again), "0123456789");
    std::fclose(again);
    std::fclose(file);
    ReleaseInputCopy(input.Name());
}

// The copy of /dev/zero would grow without end: a seek to its end must fail
// once memory runs out (an address-space limit, here), not throw and abort.
TEST(InputCopyDeathTest, EndOfAnEndlessSourceFailsInsteadOfAborting)
{
#if defined(__SANITIZE_ADDRESS__) || defined(GRAYFIX_EMULATOR)
    GTEST_SKIP() << "an address-space limit binds the sanitizer's or the emulator's reservations";
#endif
    EXPECT_EXIT(SeekToTheEndOfZeros(), testing::ExitedWithCode(0), "");
}

TEST(InputCopyDeathTest, ReleaseWithAStreamOpenIsAnInternalCheck)
{
    PipeInput input("abc");
    EXPECT_EXIT(
        {
            FILE* file = OpenInputFile(input.Name());
            if (file == nullptr || std::fgetc(file) != 'a') std::exit(3);
            ReleaseInputCopy(input.Name());
            std::exit(0);
        },
        testing::ExitedWithCode(8), "check failed: \\(\\*it\\)->views\\.empty\\(\\)");
}
