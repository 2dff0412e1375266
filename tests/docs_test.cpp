// docs_test.cpp - the man page against the usage text, the install rules, the
// batch CSV helper (tools/grayfix_batch.sh) end to end, and every console
// example of README.md and the man page run and compared with what it shows.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Quote(const std::string& text)  // for sh: '...' with ' as '\''
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string BuildDir() { return fs::path(GRAYFIX_BIN).parent_path().string(); }

// __FILE__ is relative when the build maps the source prefix away, so the
// build's cache is asked for the source directory in that case.
std::string SourceDir()
{
    fs::path file(__FILE__);
    if (file.is_absolute()) return file.parent_path().parent_path().string();
    std::istringstream cache(Slurp(BuildDir() + "/CMakeCache.txt"));
    const std::string key = "grayfix_SOURCE_DIR:STATIC=";
    for (std::string line; std::getline(cache, line);)
        if (line.rfind(key, 0) == 0) return line.substr(key.size());
    return ".";
}

struct ShellResult {
    std::string out, err;
    int status = -1;  // -1 when a signal ended the shell
};

// Runs a sh command line in dir, standard input from /dev/null unless the
// command redirects it.
ShellResult RunShell(const TempDir& dir, const std::string& command)
{
    std::string outPath = dir.Root() + ".shout", errPath = dir.Root() + ".sherr";
    std::string line = "cd " + Quote(dir.Root()) + " && (" + command + ") >" + Quote(outPath)
                       + " 2>" + Quote(errPath) + " </dev/null";
    int wstatus = std::system(line.c_str());
    ShellResult result;
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    result.out = Slurp(outPath);
    result.err = Slurp(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    return result;
}

// Writes at path a script that starts the built grayfix through the emulator
// (for helpers that take one program or look it up on the PATH).
void WriteLauncher(const std::string& path)
{
    std::ofstream(path) << "#!/bin/sh\nexec " << ProgramShellCommand() << " \"$@\"\n";
    fs::permissions(path, fs::perms::owner_all);
}

bool HaveTool(const char* name)
{
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Each switch of the usage text: a line whose first non-blank is "[-", up to
// the bracket that closes it (switches nest their optional fields in brackets).
std::vector<std::string> UsageSwitches(const std::string& usage)
{
    std::vector<std::string> switches;
    std::istringstream lines(usage);
    for (std::string line; std::getline(lines, line);) {
        std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos || line.compare(start, 2, "[-") != 0) continue;
        int depth = 0;
        for (std::size_t i = start; i < line.size(); ++i) {
            depth += line[i] == '[' ? 1 : line[i] == ']' ? -1 : 0;
            if (depth == 0) {
                switches.push_back(line.substr(start + 1, i - start - 1));
                break;
            }
        }
    }
    return switches;
}

// The man page source as a reader sees the words: font changes and the
// zero-width escapes dropped, \- as a plain minus.
std::string ManPageText(const std::string& source)
{
    std::string text;
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (source[i] != '\\' || i + 1 == source.size()) {
            text += source[i];
            continue;
        }
        char next = source[i + 1];
        if (next == 'f') {
            i += 2;  // \fB, \fI, \fR, \fP
        } else if (next == '-') {
            text += '-';
            ++i;
        } else if (next == '&' || next == '%') {
            ++i;
        } else if (next == 'e') {
            text += '\\';
            ++i;
        } else if (source.compare(i + 1, 3, "(aq") == 0) {
            text += '\'';
            i += 3;
        } else {
            text += source[i];
        }
    }
    return text;
}

}  // namespace

TEST(ManPageTest, NamesEverySwitchOfTheUsageText)
{
    TempDir dir;
    RunResult usage = RunGrayfix(dir, {});
    ASSERT_EQ(usage.status, 1);
    std::vector<std::string> switches = UsageSwitches(usage.out);
    // 3 input switches, 20 transform switches and -o:RAW.
    ASSERT_EQ(switches.size(), 24u);
    EXPECT_EQ(switches.front(), "-i:RAW:width:height[:bpp[:skip]]");
    EXPECT_EQ(switches.back(), "-o:RAW");

    std::string page = ManPageText(Slurp(SourceDir() + "/grayfix.1"));
    ASSERT_FALSE(page.empty()) << "no grayfix.1 in " << SourceDir();
    for (const std::string& name : switches)
        EXPECT_NE(page.find(name), std::string::npos) << name << " is missing from grayfix.1";
    // The exit statuses, the internal-check status included.
    for (const char* status : {".B 0\n", ".B 7\n", ".B 8\n"})
        EXPECT_NE(page.find(status), std::string::npos) << status;
}

// groff comes with groff-base on every Debian system; mandoc usually does not.
TEST(ManPageTest, GroffAndMandocFindNothingToWarnAbout)
{
    TempDir dir;
    std::string page = Quote(SourceDir() + "/grayfix.1");
    bool checked = false;
    if (HaveTool("groff")) {
        ShellResult groff = RunShell(dir, "groff -man -ww -z " + page);
        EXPECT_EQ(groff.status, 0);
        EXPECT_EQ(groff.err, "");
        checked = true;
    }
    if (HaveTool("mandoc")) {
        ShellResult lint = RunShell(dir, "mandoc -T lint -W all " + page);
        EXPECT_EQ(lint.status, 0);
        EXPECT_EQ(lint.out + lint.err, "");
        checked = true;
    }
    if (!checked) GTEST_SKIP() << "neither groff nor mandoc is installed";
}

// An install rewrites install_manifest.txt and install_dirs.txt in the build
// directory, the lists `make uninstall` removes; keep a real installation's
// lists intact.
class ManifestGuard {
public:
    explicit ManifestGuard(std::string path) : path_(std::move(path)), had_(fs::exists(path_))
    {
        if (had_) saved_ = Slurp(path_);
    }
    ~ManifestGuard()
    {
        if (had_) {
            std::ofstream(path_, std::ios::binary | std::ios::trunc) << saved_;
        } else {
            std::remove(path_.c_str());
        }
    }
    ManifestGuard(const ManifestGuard&) = delete;
    ManifestGuard& operator=(const ManifestGuard&) = delete;

private:
    std::string path_;
    bool had_;
    std::string saved_;
};

// The prefix has bin/ and share/ already (as /usr/local has): uninstall
// removes every file and the directories the install made, and no other.
TEST(InstallTest, PutsFilesUnderThePrefixAndUninstallRemovesThemAndTheDirectoriesItMade)
{
    if (!HaveTool("cmake") || !HaveTool("make")) GTEST_SKIP() << "cmake or make missing";
    TempDir dir;
    std::string prefix = dir.Path("prefix");
    ASSERT_TRUE(fs::create_directories(prefix + "/bin"));
    ASSERT_TRUE(fs::create_directories(prefix + "/share"));
    ManifestGuard guard(BuildDir() + "/install_manifest.txt");
    ManifestGuard dirsGuard(BuildDir() + "/install_dirs.txt");
    std::string make = "make -s -C " + Quote(SourceDir()) + " BUILD=" + Quote(BuildDir());

    ShellResult install = RunShell(dir, make + " install-files PREFIX=" + Quote(prefix));
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    std::string bin = prefix + "/bin/grayfix", man = prefix + "/share/man/man1/grayfix.1";
    std::string completion = prefix + "/share/bash-completion/completions/grayfix";
    std::string readme = prefix + "/share/doc/grayfix/README.md";
    std::string copyright = prefix + "/share/doc/grayfix/copyright";
    ASSERT_TRUE(fs::exists(bin));
    EXPECT_EQ(access(bin.c_str(), X_OK), 0);
    EXPECT_EQ(Slurp(man), Slurp(SourceDir() + "/grayfix.1"));
    EXPECT_EQ(Slurp(completion), Slurp(SourceDir() + "/tools/grayfix.bash-completion"));
    EXPECT_EQ(Slurp(readme), Slurp(SourceDir() + "/README.md"));
    EXPECT_EQ(Slurp(copyright), Slurp(SourceDir() + "/packaging/copyright"));

    // The installed binary runs: without arguments it prints the usage text.
    ShellResult usage = RunShell(dir, ProgramShellCommand(bin));
    EXPECT_EQ(usage.status, 1);
    EXPECT_NE(usage.out.find("grayfix v. 0.73b"), std::string::npos);

    std::istringstream listed(Slurp(BuildDir() + "/install_manifest.txt"));
    std::vector<std::string> files;
    for (std::string line; std::getline(listed, line);) files.push_back(line);
    std::sort(files.begin(), files.end());
    std::vector<std::string> expected{bin, completion, readme, copyright, man};
    std::vector<std::string> made{"/share/man", "/share/bash-completion", "/share/doc"};
#ifdef GRAYFIX_PYTHON_MODULE
    // The Python module, where the build has one.
    expected.push_back(prefix + "/" GRAYFIX_PYTHON_DIR "/" GRAYFIX_PYTHON_MODULE);
    made.push_back("/lib");
#endif
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);

    ShellResult uninstall = RunShell(dir, make + " uninstall");
    EXPECT_EQ(uninstall.status, 0) << uninstall.err;
    for (const std::string& file : files) EXPECT_FALSE(fs::exists(file)) << file;
    for (const std::string& path : made) EXPECT_FALSE(fs::exists(prefix + path)) << path;
    EXPECT_TRUE(fs::is_directory(prefix + "/bin"));
    EXPECT_TRUE(fs::is_directory(prefix + "/share"));
}

class BatchHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_.Write("abc.pgm", MakePgm(3, 1, 255, {97, 98, 99}));
        dir_.Write("abc.raw", Bytes{97, 98, 99});
        dir_.Write("bad.pgm", ToBytes("P6\n1 1\n255\nx"));
        dir_.Write("deep, 16.pgm", MakePgm(1, 1, 65535, {0x0102}));
    }
    void TearDown() override { std::remove(Launcher().c_str()); }
    // The helper takes one program: under an emulator, a script beside the
    // scratch directory that starts the built grayfix through it.
    std::string Launcher() const { return dir_.Root() + ".grayfix"; }
    std::string Program() const
    {
        if (ProgramCommand().size() == 1) return GRAYFIX_BIN;
        if (!fs::exists(Launcher())) WriteLauncher(Launcher());
        return Launcher();
    }
    // The helper with the built grayfix; args are already quoted for sh.
    std::string BatchCommand(const std::string& args) const
    {
        return "sh " + Quote(SourceDir() + "/tools/grayfix_batch.sh") + " -g " + Quote(Program())
               + " " + args;
    }
    ShellResult Batch(const std::string& args) { return RunShell(dir_, BatchCommand(args)); }

    static constexpr const char* kHeader =
        "file,transform,status,width,height,depth,min,max,levels,h0_bpp,crc_bigendian,"
        "crc_byte,width_after,height_after,depth_after,min_after,max_after,levels_after,"
        "h0_bpp_after,crc_bigendian_after,crc_byte_after,message\n";
    // 97, 98, 99: H0 log2(3) per pixel and the CRC-32 of "abc".
    static constexpr const char* kAbc = "3,1,8,97,99,3,1.584962500721,0x352441c2,0x352441c2";
    // One 16-bit pixel 0x0102.
    static constexpr const char* kDeep = "1,1,16,258,258,1,0.000000000000,0xb6cc4292,0xb6cc4292";

    TempDir dir_;
};

TEST_F(BatchHelperTest, OneLinePerImageAndAFailingFileDoesNotStopTheOthers)
{
    ShellResult run = Batch("abc.pgm bad.pgm missing.pgm 'deep, 16.pgm'");
    EXPECT_EQ(run.status, 1);  // some image failed
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, std::string(kHeader)
                           + "abc.pgm,,0," + kAbc + "," + kAbc + ",\n"
                           + "bad.pgm,,2,,,,,,,,,,,,,,,,,,,ReadPgm: Bad pgm header\n"
                           + "missing.pgm,,2,,,,,,,,,,,,,,,,,,,ReadPgm: Cannot open input\n"
                           + "\"deep, 16.pgm\",,0," + kDeep + "," + kDeep + ",\n");
}

TEST_F(BatchHelperTest, TransformFiguresAfterAndARefusedTransformKeepsTheFirstReport)
{
    ASSERT_TRUE(fs::create_directory(dir_.Path("out")));
    ShellResult run = Batch("-t reducedepth:8 -d out abc.pgm 'deep, 16.pgm'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              std::string(kHeader) + "abc.pgm,-t:reducedepth:8,1," + kAbc
                  + ",,,,,,,,,,Bad -t:reducedepth:newdepth\n"
                  + "\"deep, 16.pgm\",-t:reducedepth:8,0," + kDeep
                  + ",1,1,8,1,1,1,0.000000000000,0xa505df1b,0xa505df1b,\n");
    // 0x0102 >> 8 is 1; only the image that succeeded is kept.
    EXPECT_EQ(dir_.Read("out/deep, 16.pgm"), MakePgm(1, 1, 255, {1}));
    EXPECT_FALSE(dir_.Exists("out/abc.pgm"));
}

TEST_F(BatchHelperTest, InputSwitchesAndNamesFromStandardInput)
{
    // RAW bytes described by an input switch give the figures of the PGM.
    std::string line = std::string("abc.raw,,0,") + kAbc + "," + kAbc + ",\n";
    ShellResult named = Batch("-H -i -i:RAW:3:1:8 abc.raw");
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(named.out, line);
    // Names one per line; the empty line is skipped. "-i:" may be left out.
    ShellResult piped = RunShell(dir_, "printf 'abc.raw\\n\\n' | " + BatchCommand("-H -i RAW:3:1:8"));
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, line);
}

TEST_F(BatchHelperTest, BadUsageEndsWithStatus2)
{
    EXPECT_EQ(Batch("-x abc.pgm").status, 2);
    ShellResult missing = RunShell(dir_, "sh " + Quote(SourceDir() + "/tools/grayfix_batch.sh")
                                             + " -g ./no-such-grayfix abc.pgm");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("cannot run ./no-such-grayfix"), std::string::npos);
}

// The README's gallery shows each picture with the commands that made it:
// those commands must be the script's own, and the pictures must exist.
TEST(GalleryTest, ReadmeShowsTheScriptsCommandsAndExistingPictures)
{
    std::string readme = Slurp(SourceDir() + "/README.md");
    std::string script = Slurp(SourceDir() + "/tools/make_gallery.sh");
    std::size_t start = readme.find("### Pictures");
    ASSERT_NE(start, std::string::npos);
    std::istringstream section(readme.substr(start, readme.find("\n## ", start) - start));
    int commands = 0, pictures = 0;
    for (std::string line; std::getline(section, line);) {
        if (line.rfind("grayfix ", 0) == 0 || line.rfind("pnmnorm ", 0) == 0) {
            ++commands;
            EXPECT_NE(script.find(line), std::string::npos) << line;
        }
        std::size_t image = line.find("](docs/gallery/");
        if (line.rfind("![", 0) == 0 && image != std::string::npos) {
            ++pictures;
            std::string path = line.substr(image + 2, line.size() - image - 3);
            EXPECT_TRUE(fs::exists(SourceDir() + "/" + path)) << path;
            EXPECT_NE(script.find(fs::path(path).filename().string()), std::string::npos) << path;
        }
    }
    EXPECT_EQ(pictures, 8);
    EXPECT_GE(commands, 20);
}

// The README's recipe for several machines, run as written with this machine
// as the only host: the CSV it collects must be what one local run of the
// batch helper writes, and the returned images must be there.
TEST(SeveralMachinesTest, ReadmeRecipeCollectsTheBatchCsvInOneFile)
{
    if (!HaveTool("parallel")) GTEST_SKIP() << "GNU parallel is not installed (apt-get install parallel)";
    std::string readme = Slurp(SourceDir() + "/README.md");
    std::size_t section = readme.find("## When one machine is not enough");
    ASSERT_NE(section, std::string::npos);
    std::size_t call = readme.find("\nparallel ", section);
    ASSERT_NE(call, std::string::npos);
    std::size_t start = readme.rfind("```sh\n", call) + 6, end = readme.find("```", call);
    std::string recipe = readme.substr(start, end - start);

    TempDir dir;
    ASSERT_TRUE(fs::create_directories(dir.Path("corpus")));
    ASSERT_TRUE(fs::create_directories(dir.Path("tools")));
    fs::copy_file(SourceDir() + "/tools/grayfix_batch.sh", dir.Path("tools/grayfix_batch.sh"));
    dir.Write("corpus/abc.pgm", MakePgm(3, 1, 255, {97, 98, 99}));
    dir.Write("corpus/deep.pgm", MakePgm(2, 2, 4095, {1, 700, 4000, 3}));
    dir.Write("corpus/short.pgm", ToBytes("P5\n4 4\n255\nxy"));
    dir.Write("hosts.txt", ToBytes(":\n"));
    // Under an emulator, grayfix on the PATH is a script that starts the build through it.
    std::string binDir = BuildDir();
    if (ProgramCommand().size() > 1) {
        binDir = dir.Root() + ".bin";
        fs::create_directories(binDir);
        WriteLauncher(binDir + "/grayfix");
    }
    std::string path = "PATH=" + Quote(binDir) + ":\"$PATH\"; export PATH; ";

    ShellResult run = RunShell(dir, path + recipe);
    EXPECT_EQ(run.status, 1) << run.err;  // parallel: one failed run
    ASSERT_TRUE(fs::create_directories(dir.Path("direct")));
    ShellResult direct = RunShell(
        dir, path + "sh tools/grayfix_batch.sh -d direct -t decorrelatemed corpus/*.pgm");
    EXPECT_EQ(direct.status, 1);
    EXPECT_EQ(dir.Read("h0.csv"), ToBytes(direct.out));
    EXPECT_NE(direct.out.find("corpus/short.pgm,-t:decorrelatemed,2,"), std::string::npos);
    for (const char* name : {"abc.pgm", "deep.pgm"})
        EXPECT_EQ(dir.Read(std::string("med/") + name), dir.Read(std::string("direct/") + name))
            << name;
    EXPECT_FALSE(dir.Exists("med/short.pgm"));
    if (binDir != BuildDir()) fs::remove_all(binDir);
}

// ---- Console examples, run as shown

namespace {

// One "$ command" of a console example and the lines shown after it.
struct ShownCommand {
    int line = 0;  // of the command in its document
    std::string command;
    std::string shown;  // the lines after it, each ended by a newline
};

struct ConsoleExample {
    int line = 0;  // of the opening fence or .EX
    std::vector<ShownCommand> commands;
};

// The examples between an opening line and a closing one: in README.md the
// ```console fences, in the man page .EX and .EE (as the reader sees the
// text). Examples without a "$ " command are listed too, so that a test can
// refuse them.
std::vector<ConsoleExample> ConsoleExamples(const std::string& text, const std::string& open,
                                            const std::string& close)
{
    std::vector<ConsoleExample> examples;
    std::istringstream lines(text);
    bool inside = false;
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!inside) {
            if (line == open) {
                inside = true;
                examples.push_back({number, {}});
            }
            continue;
        }
        if (line == close) {
            inside = false;
        } else if (line.rfind("$ ", 0) == 0) {
            examples.back().commands.push_back({number, line.substr(2), ""});
        } else if (!examples.back().commands.empty()) {
            examples.back().commands.back().shown += line + "\n";
        }
    }
    return examples;
}

// Where two texts first differ: the 1-based line and both lines.
std::string FirstDifference(const std::string& shown, const std::string& got)
{
    std::istringstream a(shown), b(got);
    std::string lineA, lineB;
    for (int number = 1;; ++number) {
        bool moreA = (bool)std::getline(a, lineA), moreB = (bool)std::getline(b, lineB);
        if (!moreA && !moreB) return "a difference in the line ends";
        if (!moreA || !moreB || lineA != lineB)
            return "output line " + std::to_string(number) + "\n  shown: "
                   + (moreA ? lineA : "(nothing more)") + "\n  got:   "
                   + (moreB ? lineB : "(nothing more)");
    }
}

// The place where the examples run: build/ of a copy of the tree as the tour
// has it after `make sample; cd build`, with the built grayfix there and on
// the PATH, the sample images, and ../tools of the source tree.
class ExampleTree {
public:
    ExampleTree()
    {
        build_ = dir_.Path("build");
        fs::create_directories(build_);
        fs::create_directory_symlink(SourceDir() + "/tools", dir_.Path("tools"));
        if (ProgramCommand().size() == 1) {
            fs::create_symlink(GRAYFIX_BIN, build_ + "/grayfix");
        } else {
            WriteLauncher(build_ + "/grayfix");
        }
        made_ = RunShell(dir_, "cd build && " + ProgramShellCommand(BuildDir() + "/make_sample")
                                   + " sample8.pgm sample16.pgm")
                    .status
                == 0;
    }
    bool Ready() const { return made_; }
    // The command in build/, standard error merged into standard output as
    // on a terminal.
    ShellResult Run(const std::string& command)
    {
        std::string path = "PATH=" + Quote(build_) + ":\"$PATH\"; export PATH; cd build && ";
        return RunShell(dir_, path + "{ " + command + "\n} 2>&1");
    }

private:
    TempDir dir_;
    std::string build_;
    bool made_ = false;
};

// Runs every command of the examples in order, in one tree, and compares
// what it prints with what the document shows.
void ExpectExamplesAsShown(const std::string& document, const std::vector<ConsoleExample>& examples)
{
    ExampleTree tree;
    ASSERT_TRUE(tree.Ready()) << "make_sample failed";
    for (const ConsoleExample& example : examples) {
        EXPECT_FALSE(example.commands.empty())
            << document << ":" << example.line << ": an example without a \"$ \" command";
        for (const ShownCommand& c : example.commands) {
            ShellResult run = tree.Run(c.command);
            EXPECT_EQ(run.out, c.shown) << document << ":" << c.line << ": $ " << c.command
                                        << "\ndiffers at " << FirstDifference(c.shown, run.out);
        }
    }
}

}  // namespace

TEST(ConsoleExamplesTest, EveryReadmeConsoleBlockPrintsWhatItShows)
{
    std::vector<ConsoleExample> examples =
        ConsoleExamples(Slurp(SourceDir() + "/README.md"), "```console", "```");
    ASSERT_GE(examples.size(), 10u);
    ExpectExamplesAsShown("README.md", examples);
}

// The man page's examples that show a prompt run on the sample images.
TEST(ConsoleExamplesTest, ManPageExamplesPrintWhatTheyShow)
{
    std::string page = ManPageText(Slurp(SourceDir() + "/grayfix.1"));
    std::vector<ConsoleExample> all = ConsoleExamples(page, ".EX", ".EE"), runnable;
    for (const ConsoleExample& example : all)
        if (!example.commands.empty()) runnable.push_back(example);
    ASSERT_GE(runnable.size(), 5u);
    ExpectExamplesAsShown("grayfix.1", runnable);
}
