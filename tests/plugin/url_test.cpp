// "http:" sources: opened as internet streams, freed by a stop and opened
// afresh by the next play. A small http server on 127.0.0.1 serves them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "host_fixture.hpp"

namespace {

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

bool Connectable(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

class UrlTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    const std::string wav = MakeWav("url-src.wav", 6.0, 44100, 2);
    ASSERT_TRUE(::Run("ffmpeg -v error -y -i " + wav + " -c:a libmp3lame -b:a 128k " + TempDir() + "/tone.mp3"));
    port_ = FreePort();
    server_ = fork();
    if (server_ == 0) {
      const int null_fd = open("/dev/null", O_WRONLY);
      dup2(null_fd, STDOUT_FILENO);
      dup2(null_fd, STDERR_FILENO);
      execl("/usr/bin/python3", "python3", "-m", "http.server", std::to_string(port_).c_str(), "--bind", "127.0.0.1",
            "--directory", TempDir().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Connectable(port_) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(Connectable(port_)) << "the test's http server did not start";
  }
  void TearDown() override {
    PluginTest::TearDown();
    if (server_ > 0) {
      kill(server_, SIGTERM);
      waitpid(server_, nullptr, 0);
    }
  }
  std::string Url(const std::string& name) const { return "http://127.0.0.1:" + std::to_string(port_) + "/" + name; }
  int port_ = 0;
  pid_t server_ = -1;
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
  EXPECT_FALSE(plugin.Create("http://127.0.0.1:" + std::to_string(FreePort()) + "/x.mp3"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(7));
  EXPECT_TRUE(plugin.Create(Url("tone.mp3")));
}
