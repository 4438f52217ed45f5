// "http:" sources: opened as internet streams, freed by a stop and opened
// afresh by the next play. A small http server on 127.0.0.1 serves them.
#include <chrono>
#include <memory>
#include <thread>

#include "host_fixture.hpp"
#include "radio/process.hpp"

namespace {

using tovarin::test::port_open;
using tovarin::test::Process;
using tovarin::test::unused_port;

class UrlTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    const std::string wav = MakeWav("url-src.wav", 6.0, 44100, 2);
    ASSERT_TRUE(::Run("ffmpeg -v error -y -i " + wav + " -c:a libmp3lame -b:a 128k " + TempDir() + "/tone.mp3"));
    port_ = unused_port();
    server_ = std::make_unique<Process>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "http.server", std::to_string(port_), "--bind", "127.0.0.1",
                                 "--directory", TempDir()},
        false);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!port_open(port_) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(port_open(port_)) << "the test's http server did not start";
  }
  std::string Url(const std::string& name) const { return "http://127.0.0.1:" + std::to_string(port_) + "/" + name; }
  int port_ = 0;
  std::unique_ptr<Process> server_;  // killed with the fixture
};

}  // namespace

TEST_F(UrlTest, StopFreesTheStreamAndPlayOpensItAfresh) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(Url("tone.mp3")));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "44100");
  plugin.Bass_Play();
  ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= 2; }, 8000));
  plugin.Bass_Stop();
  PumpFor(500);
  // The stop freed the internet stream: the slot's handle is stale.
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "0");
  plugin.Bass_Play();  // opens the source again and plays from its start
  ASSERT_TRUE(PumpUntil([&] { return plugin.Query(plugin.Bass_GetFreq) == "44100"; }, 8000));
  PumpFor(300);
  EXPECT_LE(plugin.Position(), 1);
  EXPECT_TRUE(PumpUntil([&] { return plugin.Position() >= 1; }, 5000));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(UrlTest, AFileOpenedInAnotherSlotMakesTheUrlSlotBehaveAsAFile) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(Url("tone.mp3")));
  plugin.ChannelNum(2);
  ASSERT_TRUE(plugin.Create(MakeWav("plain2.wav", 3.0, 44100, 2)));
  plugin.ChannelNum(1);
  plugin.Bass_Play();
  ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= 1; }, 8000));
  plugin.Bass_Stop();
  PumpFor(500);
  // IsUrl now reflects the file: the stop kept the url stream.
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "44100");
}

TEST_F(UrlTest, OnlyTheExactSchemeMakesAUrl) {
  StartPlayer();
  // https goes to the URL path, where a server that does not speak TLS fails
  // the handshake; capitals go to the file path and fail there at once.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(plugin.Create("https://127.0.0.1:" + std::to_string(port_) + "/tone.mp3"));
  EXPECT_FALSE(plugin.Create("HTTP://127.0.0.1:" + std::to_string(port_) + "/tone.mp3"));
  // A refused connection fails within the bound.
  EXPECT_FALSE(plugin.Create("http://127.0.0.1:" + std::to_string(unused_port()) + "/x.mp3"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(7));
  EXPECT_TRUE(plugin.Create(Url("tone.mp3")));
}
