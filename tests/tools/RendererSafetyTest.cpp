// orvane-fx as a hostile world treats it: full disks, huge lengths, signals of every kind,
// protected, linked and long-named outputs, stalled inputs, broken files. Whatever happens, a
// failed or stopped render reports it truthfully, exits with the status shells expect, and
// leaves every file as it was.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "RendererFixture.hpp"

namespace {

namespace fs = std::filesystem;
using orvane::testing::Outcome;

class Safety : public orvane::testing::RendererFixture {
 protected:
  // The names in the scratch folder (the log of the last script aside).
  std::vector<std::string> files(const std::string& folder = ".") const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / folder)) {
      const std::string name = entry.path().filename().string();
      if (name != "run.log") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

// --- lengths and containers ------------------------------------------------------------------

TEST_F(Safety, LengthsAreCheckedBeforeAnythingIsWritten) {
  for (const char* bad : {"--seconds 1e300", "--seconds nan", "--seconds -1", "--seconds -inf",
                          "--tail 1e15", "--tail 1e300", "--tail -0.5"}) {
    const Outcome r = run(std::string("render -s noise ") + bad + " -o out.wav Delay");
    EXPECT_EQ(r.status, 2) << bad << "\n" << r.output;
    EXPECT_TRUE(contains(r, "orvane-fx: error: --")) << r.output;
  }
  EXPECT_TRUE(contains(run("render -s demo --seconds 1e300 -o o.wav Delay"), "more frames than a render"));
  EXPECT_EQ(files(), std::vector<std::string>{});
}

TEST_F(Safety, ALongWavBecomesRf64AndOtherContainersRefuseWhatTheyCannotHold) {
  // 11200 s of stereo float is 4.3 GB: the decision is made and said before rendering, so the
  // test stops the render as soon as the note appears.
  const Outcome big = script(
      "env --default-signal \"$FX\" render -s noise --seconds 11200 -o big.wav Delay "
      "enabled=false 2> note.log & "
      "pid=$!; for i in $(seq 100); do grep -q RF64 note.log && break; sleep 0.05; done; "
      "kill -INT $pid; wait $pid; echo status=$?; cat note.log");
  EXPECT_TRUE(contains(big, "written as RF64")) << big.output;
  EXPECT_TRUE(contains(big, "status=130")) << big.output;
  EXPECT_EQ(files(), std::vector<std::string>{"note.log"});

  for (const char* name : {"big.aiff", "big.au"}) {
    const Outcome r = run(std::string("render -s noise --seconds 11200 -o ") + name + " Delay");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(contains(r, "more than the 4 GiB that file type can hold")) << r.output;
  }
  const Outcome ogg = run("render -s impulse --rate 8000000 -o fast.ogg Delay");
  EXPECT_EQ(ogg.status, 2);
  EXPECT_TRUE(contains(ogg, "Ogg Vorbis holds rates up to 192000 Hz")) << ogg.output;
  EXPECT_EQ(files(), std::vector<std::string>{"note.log"});
}

// A small file system of its own, filled up: every container fails with a message and leaves
// the old file byte for byte (and no plot, no temporary file). Needs root to mount; skipped
// otherwise.
TEST_F(Safety, AFullDiskFailsTheRenderAndLeavesTheOldFile) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  ASSERT_EQ(script("mkdir small && mount -t tmpfs -o size=1m tmpfs small").status, 0);
  struct Unmount {
    std::string folder;
    ~Unmount() { [[maybe_unused]] int ignored = std::system(("umount '" + folder + "'").c_str()); }
  } unmount{path("small")};
  for (const char* name : {"out.wav", "out.flac", "out.ogg"}) {
    SCOPED_TRACE(name);
    const std::string old = std::string("precious ") + name;
    writeText(std::string("small/") + name, old);
    const Outcome r = run(std::string("render -q -s noise --seconds 120 --plot small/p.svg -o small/") +
                          name + " Delay");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(contains(r, "the disk is full")) << r.output;
    EXPECT_TRUE(contains(r, "is left as it was")) << r.output;
    EXPECT_EQ(readText(std::string("small/") + name), old);
    EXPECT_FALSE(fs::exists(path("small/p.svg")));
  }
  EXPECT_EQ(files("small"), (std::vector<std::string>{"out.flac", "out.ogg", "out.wav"}));
}

// --- signals ---------------------------------------------------------------------------------

TEST_F(Safety, EveryStopSignalLeavesNothingBehindAndExitsAsShellsExpect) {
  writeText("out.wav", "precious");
  for (const auto& [signal, status] : std::vector<std::pair<std::string, int>>{
           {"INT", 130}, {"TERM", 143}, {"HUP", 129}, {"PIPE", 141}, {"QUIT", 131}}) {
    // One-frame blocks are slow enough to be caught running. (A shell starts background jobs
    // with SIGINT and SIGQUIT ignored; a job started as from a terminal has them.)
    const Outcome r = script(
        "env --default-signal \"$FX\" render -q -s noise --seconds 3000 -b 1 -o out.wav "
        "--plot p.svg Delay & pid=$!; "
        "sleep 0.4; kill -" + signal + " $pid; wait $pid; echo status=$?");
    EXPECT_TRUE(contains(r, "status=" + std::to_string(status))) << signal << ": " << r.output;
    EXPECT_TRUE(contains(r, "interrupted; nothing was written")) << r.output;
    EXPECT_EQ(files(), std::vector<std::string>{"out.wav"}) << signal;
    EXPECT_EQ(readText("out.wav"), "precious");
  }
  // A file grown past the size limit fails its write (SIGXFSZ ignored) and is reported.
  const Outcome big = script("ulimit -f 200; \"$FX\" render -q -s noise --seconds 5 -o out.wav Delay");
  EXPECT_EQ(big.status, 1) << big.output;
  EXPECT_TRUE(contains(big, "cannot write 'out.wav'")) << big.output;
  EXPECT_EQ(files(), std::vector<std::string>{"out.wav"});
  EXPECT_EQ(readText("out.wav"), "precious");
}

TEST_F(Safety, SignalsTheParentIgnoredStayIgnored) {
  // A background job ignores SIGINT (the shell's doing), and nohup ignores SIGHUP: neither
  // stops the render, which SIGTERM then does.
  for (const char* ignored : {"INT", "HUP"}) {
    const Outcome r = script(std::string("trap '' ") + ignored +
                             "; \"$FX\" render -q -s noise --seconds 3000 -b 1 -o out.wav Delay & "
                             "pid=$!; sleep 0.3; kill -" + ignored + " $pid; sleep 0.3; "
                             "kill -0 $pid && echo alive; kill -TERM $pid; wait $pid; "
                             "echo status=$?");
    EXPECT_TRUE(contains(r, "alive")) << ignored << ": " << r.output;
    EXPECT_TRUE(contains(r, "status=143")) << ignored << ": " << r.output;
    EXPECT_EQ(files(), std::vector<std::string>{}) << ignored;
  }
}

TEST_F(Safety, AReaderThatClosesThePipeEarlyIsToldOfTruthfully) {
  // SIGPIPE as shells leave it: the render ends as SIGPIPE ends a program, and says how much
  // the reader took. Ignored: the failed write is an error, status 1.
  for (const auto& [setup, status] : std::vector<std::pair<std::string, int>>{
           {"", 141}, {"trap '' PIPE; ", 1}}) {
    const Outcome r = script(setup + "{ \"$FX\" render -q -s noise -o - Delay 2> err.log; "
                             "echo status=$? > status.txt; } | head -c 100 > /dev/null; "
                             "cat status.txt err.log; rm status.txt err.log");
    EXPECT_TRUE(contains(r, "status=" + std::to_string(status))) << setup << r.output;
    EXPECT_TRUE(contains(r, "closed it after")) << setup << r.output;
    EXPECT_TRUE(contains(r, "the rest of the audio was not sent")) << r.output;
    EXPECT_FALSE(contains(r, "nothing was written")) << r.output;
  }
}

TEST_F(Safety, ANamedPipeOrADeviceIsWrittenAsAStreamNotReplaced) {
  const Outcome r = script("mkfifo o.wav; cat o.wav > got.wav & reader=$!; "
                           "\"$FX\" render -q -s impulse --tail 0 -o o.wav Delay; echo status=$?; "
                           "wait $reader; test -p o.wav && echo still-a-pipe");
  EXPECT_TRUE(contains(r, "status=0")) << r.output;
  EXPECT_TRUE(contains(r, "still-a-pipe")) << r.output;
  const auto got = read("got.wav");
  ASSERT_EQ(got.samples.size(), 2u);
  EXPECT_EQ(got.samples[0].size(), 48000u);
  EXPECT_EQ(files(), (std::vector<std::string>{"got.wav", "o.wav"}));

  const Outcome null = script("\"$FX\" render -q -s impulse -o /dev/null Delay && "
                              "\"$FX\" render -q -s impulse -t flac -o /dev/null Delay && "
                              "test -c /dev/null && echo still-a-device");
  EXPECT_TRUE(contains(null, "still-a-device")) << null.output;
}

TEST_F(Safety, AStopSignalEndsARenderWhoseInputNeverComes) {
  for (const char* writer : {"", "sleep 30 > fifo & "}) {
    SCOPED_TRACE(*writer ? "a writer that never writes" : "no writer at all");
    const auto start = std::chrono::steady_clock::now();
    const Outcome r = script(std::string("rm -f fifo; mkfifo fifo; ") + writer +
                             "\"$FX\" render -i fifo -o out.wav Delay & pid=$!; sleep 0.3; "
                             "kill -TERM $pid; wait $pid; echo status=$?; pkill -f 'sleep 30'");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(contains(r, "status=143")) << r.output;
    EXPECT_LT(seconds, 2.5) << "the render must not wait for its input";
    EXPECT_EQ(files(), std::vector<std::string>{"fifo"});
  }
}

TEST_F(Safety, StandardInputIsReadAsItComesAndOnlyFlacIsKept) {
  ASSERT_EQ(run("render -q -s noise --seconds 1 -o in.wav Delay enabled=false && "
                "\"$FX\" render -q -i in.wav -o in.flac Delay enabled=false")
                .status,
            0);
  // While the pipe is still open, the render has no copy of it anywhere.
  const Outcome live = script(
      "mkdir tmp; { cat in.wav; sleep 1; } | TMPDIR=$PWD/tmp \"$FX\" render -q -i - -o out.wav "
      "--tail 0 Delay & sleep 0.5; echo spooled: $(ls -A tmp); wait $!; echo status=$?");
  EXPECT_TRUE(contains(live, "spooled:\n")) << live.output;
  EXPECT_TRUE(contains(live, "status=0")) << live.output;
  EXPECT_EQ(read("out.wav").samples[0].size(), 48000u);
  // FLAC in a pipe must be kept to be decoded; spools of renders that were killed go.
  const Outcome flac = script(
      "sh -c true & dead=$!; wait $dead; touch tmp/orvane-fx-input-$dead-AbCdEf "
      "tmp/.orvane-fx-output-$dead.partial-$dead-AbCdEf tmp/orvane-fx-input-1-AbCdEf; "
      "cat in.flac | TMPDIR=$PWD/tmp \"$FX\" render -q -i - -t flac -o - --tail 0 Delay > out.wav && "
      "echo left: $(ls -A tmp)");
  EXPECT_TRUE(contains(flac, "left: orvane-fx-input-1-AbCdEf\n")) << flac.output;  // pid 1 lives
  EXPECT_EQ(read("out.wav").samples[0].size(), 48000u);
}

TEST_F(Safety, AStaleTemporaryFileOfADeadRenderIsCleanedUp) {
  const Outcome r = script(
      "sh -c true & dead=$!; wait $dead; "
      "touch .out.wav.partial-$dead-AbCdEf .out.wav.partial-1-AbCdEf; "  // pid 1 lives
      "\"$FX\" render -q -s impulse -o out.wav Delay && ls -a");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(files(), (std::vector<std::string>{".out.wav.partial-1-AbCdEf", "out.wav"}));
}

// The demo puts its files in place only once all of them are complete: a failure on the way
// (here a folder where one of its files should go) leaves the folder as it was, and says so.
TEST_F(Safety, AFailedDemoLeavesTheFolderAsItWas) {
  ASSERT_EQ(script("mkdir -p show/Vibrato.wav && echo mine > show/keep.txt").status, 0);
  const Outcome r = run("demo -o show");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(contains(r, "'show/Vibrato.wav': it is a folder")) << r.output;
  EXPECT_TRUE(contains(r, "nothing was written")) << r.output;
  EXPECT_EQ(files("show"), (std::vector<std::string>{"Vibrato.wav", "keep.txt"}));
}

// --- what gets replaced, and how ---------------------------------------------------------------

TEST_F(Safety, ReplacingAnOutputKeepsItsModeAndWritesThroughSymlinks) {
  ASSERT_EQ(script("echo old > private.wav && chmod 600 private.wav && mkdir real && "
                   "echo old > real/target.wav && ln -s real/target.wav link.wav && "
                   "echo old > shared.wav && ln shared.wav hardlink.wav")
                .status,
            0);
  ASSERT_EQ(run("render -q -s impulse -o private.wav Delay").status, 0);
  struct stat info {};
  ASSERT_EQ(stat(path("private.wav").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ASSERT_EQ(run("render -q -s impulse -o link.wav Delay").status, 0);
  EXPECT_TRUE(fs::is_symlink(path("link.wav")));
  EXPECT_NE(readText("real/target.wav"), "old\n");
  EXPECT_EQ(files("real"), std::vector<std::string>{"target.wav"});

  // A hard link to the old output keeps the old audio (the README says so).
  ASSERT_EQ(run("render -q -s impulse -o shared.wav Delay").status, 0);
  EXPECT_EQ(readText("hardlink.wav"), "old\n");
}

TEST_F(Safety, AFileTheUserCouldNotWriteIsNotReplaced) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to set up another user's file";
  // A world-writable folder with a root-owned read-only file, and a render as nobody.
  ASSERT_EQ(script("mkdir open && chmod 777 open && echo root > open/out.wav && "
                   "chmod 444 open/out.wav && chmod 755 .")
                .status,
            0);
  // The renderer and the libraries it loads, where nobody may read them whoever owns the
  // checkout (a clone in root's own home is out of nobody's reach).
  ASSERT_EQ(script("mkdir bin && cp \"$FX\" bin/ && "
                   "ldd \"$FX\" | awk '/libOrvane/ { print $3 }' | xargs -r cp -t bin/ && "
                   "chmod -R a+rX bin")
                .status,
            0);
  const Outcome r = script("LD_LIBRARY_PATH=\"$PWD/bin\" setpriv --reuid=65534 --regid=65534 "
                           "--clear-groups bin/orvane-fx render -q -s impulse -o open/out.wav "
                           "Delay");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_TRUE(contains(r, "you may not write to it")) << r.output;
  EXPECT_EQ(readText("open/out.wav"), "root\n");
  EXPECT_EQ(files("open"), std::vector<std::string>{"out.wav"});
}

TEST_F(Safety, ReplacingAnotherUsersFileAsRootKeepsItsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to replace another user's file";
  ASSERT_EQ(script("echo old > theirs.wav && chown 65534:65534 theirs.wav && "
                   "chmod 640 theirs.wav").status,
            0);
  ASSERT_EQ(run("render -q -s impulse -o theirs.wav Delay").status, 0);
  struct stat info {};
  ASSERT_EQ(stat(path("theirs.wav").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_gid, 65534u);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_NE(readText("theirs.wav"), "old\n");
}

TEST_F(Safety, NamesNearTheFileSystemsLimitStillWork) {
  for (std::size_t length : {240u, 251u}) {
    const std::string name = std::string(length - 4, 'n') + ".wav";
    const Outcome r = run("render -q -s impulse -o " + name + " Delay");
    EXPECT_EQ(r.status, 0) << length << ": " << r.output;
    EXPECT_TRUE(fs::exists(path(name)));
    fs::remove(path(name));
  }
}

TEST_F(Safety, APlotNeverTakesTheInputsOrTheOutputsPlace) {
  ASSERT_EQ(run("render -q -s impulse -o in.wav Delay enabled=false").status, 0);
  const std::string input = readText("in.wav");
  for (const char* plot : {"in.wav", "out.wav", "p.png"}) {
    const Outcome r = run(std::string("render -q -i in.wav -o out.wav --plot ") + plot + " Delay");
    EXPECT_EQ(r.status, 2) << plot;
    EXPECT_TRUE(contains(r, "name it .svg")) << r.output;
  }
  EXPECT_EQ(readText("in.wav"), input);
  EXPECT_EQ(files(), std::vector<std::string>{"in.wav"});
}

// --- what comes in -----------------------------------------------------------------------------

TEST_F(Safety, ACutFileRendersWhatItHoldsAndSaysHowMuch) {
  ASSERT_EQ(run("render -q -s noise --seconds 1 -o full.wav Delay enabled=false && "
                "for type in flac ogg aiff w64 au; do \"$FX\" render -q -i full.wav -o full.$type "
                "Delay enabled=false || exit 1; done")
                .status,
            0);
  ASSERT_EQ(script("head -c 200000 full.wav > cut.wav && head -c 40000 full.flac > cut.flac && "
                   "head -c 10000 full.ogg > cut.ogg && head -c 200000 full.aiff > cut.aiff && "
                   "head -c 200000 full.w64 > cut.w64 && head -c 200000 full.au > cut.au")
                .status,
            0);
  // Every container, from a file and, where a pipe carries it, from standard input.
  for (const std::string name : {"cut.wav", "cut.flac", "cut.ogg", "cut.aiff", "cut.w64",
                                 "cut.au", "-t wav < cut.wav", "-t aiff < cut.aiff",
                                 "-t au < cut.au"}) {
    SCOPED_TRACE(name);
    const bool piped = name[0] == '-';
    const Outcome r = run("render -q --tail 0 -i " + std::string(piped ? "- " : "") + name +
                          " -o out.wav Delay");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(contains(r, "warning: '" + (piped ? std::string("standard input") : name) + "'"))
        << r.output;
    if (name != "cut.ogg") {  // Ogg headers promise no length; the end mark is missing
      EXPECT_TRUE(contains(r, "48000")) << "the frame count the header promised: " << r.output;
    }
    const orvane::testing::Audio out = read("out.wav");
    ASSERT_EQ(out.channels, 2u);
    EXPECT_GT(out.samples[0].size(), 0u);
    EXPECT_LT(out.samples[0].size(), 48000u);
  }
}

TEST_F(Safety, BrokenInputsAndOptionsGetPlainMessagesAndTheRightStatus) {
  // A float WAV header with 2 channels at a rate of 0.
  const char header[] =
      "RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x03\x00\x02\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x00\x08\x00\x20\x00data\x00\x00\x00\x00";
  writeText("zero.wav", std::string(header, sizeof header - 1));
  ASSERT_EQ(script("mkdir folder").status, 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"render -i zero.wav -o out.wav Delay", "gives 2 channels at 0 Hz"},
      {"render -i folder -o out.wav Delay", "'folder': it is a folder"},
      {"render -i missing.wav -o out.wav Delay", "'missing.wav': there is no such file"},
      {"render -s demo --rate 1.5 -o out.wav Delay", "--rate 1.5: a sample rate is a whole number"},
      {"render -i zero.wav --rate 44100 -o out.wav Delay", "--rate sets the built-in signal"},
      {"render -s impulse -o out.wav Delay feedback=1e39", "beyond the largest 32-bit float"},
      {"render --no-such-option Delay", "orvane-fx: error: The following argument"},
      {"render -s impulse -o out.wav Delay delay=-5", "0 to 4294967295 ms"},
  };
  for (const auto& [arguments, message] : cases) {
    const Outcome r = run(arguments);
    EXPECT_EQ(r.status, 2) << arguments << "\n" << r.output;
    EXPECT_TRUE(contains(r, message)) << arguments << "\n" << r.output;
  }
  EXPECT_EQ(run("render -q --rate 1e3 -s impulse -o thousand.wav Delay").status, 0);
  EXPECT_EQ(read("thousand.wav").rate, 1000u);
  // --channels with an input converts it: mono becomes stereo for the ping-pong delay.
  ASSERT_EQ(run("render -q -s impulse --channels 1 -o mono.wav Delay enabled=false").status, 0);
  const Outcome pingPong = run("render -q -i mono.wav --channels 2 -o wide.wav PingPongDelay");
  EXPECT_EQ(pingPong.status, 0) << pingPong.output;
  EXPECT_EQ(read("wide.wav").channels, 2u);
}

}  // namespace
