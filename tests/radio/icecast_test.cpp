// A real radio server: icecast2 on 127.0.0.1, fed by ffmpeg in real time, its
// title changed through the admin interface while we listen.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "radio_test.hpp"

namespace {

std::string config(const std::string& dir, int port, bool as_root) {
  return "<icecast>\n"
         "  <limits><clients>20</clients><sources>2</sources><burst-size>65536</burst-size></limits>\n"
         "  <authentication><source-password>srcpw</source-password><admin-user>admin</admin-user>"
         "<admin-password>adminpw</admin-password></authentication>\n"
         "  <hostname>127.0.0.1</hostname>\n"
         "  <listen-socket><port>" +
         std::to_string(port) +
         "</port><bind-address>127.0.0.1</bind-address></listen-socket>\n"
         "  <paths><basedir>/usr/share/icecast2</basedir><logdir>" +
         dir +
         "/log</logdir>"
         "<webroot>/usr/share/icecast2/web</webroot><adminroot>/usr/share/icecast2/admin</adminroot></paths>\n"
         "  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog><loglevel>2</loglevel></logging>\n"
         "  <security><chroot>0</chroot>" +
         std::string(as_root ? "<changeowner><user>icecast2</user><group>icecast</group></changeowner>" : "") +
         "</security>\n</icecast>\n";
}

TEST(Icecast, StationPlaysAndItsTitleFollowsTheServer) {
  for (const char* tool : {"icecast2", "ffmpeg", "curl"}) {
    if (!have_tool(tool)) {
      GTEST_SKIP() << tool << " missing";
    }
  }
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);  // icecast drops to its own user and must reach the log folder
  const bool root = ::geteuid() == 0;
  ASSERT_EQ(::mkdir((dir.path() + "/log").c_str(), 0755), 0);
  if (root) {
    ASSERT_TRUE(run("chown icecast2:icecast " + sh_quote(dir.path() + "/log")));
  }
  const int port = unused_port();
  std::ofstream(dir.file("icecast.xml")) << config(dir.path(), port, root);
  const std::string mp3 = dir.file("tone.mp3");
  ASSERT_TRUE(make_tone(mp3, 10, "-c:a libmp3lame -b:a 128k"));

  Process server({"icecast2", "-c", dir.file("icecast.xml")}, false);
  auto t = Clock::now();
  while (!port_open(port) && seconds_since(t) < 10) usleep(50000);
  ASSERT_TRUE(port_open(port)) << "icecast2 did not start";

  const std::string base = "127.0.0.1:" + std::to_string(port);
  Process source({"ffmpeg", "-v", "error", "-nostdin", "-re", "-stream_loop", "-1", "-i", mp3, "-c:a", "copy",
                  "-content_type", "audio/mpeg", "-f", "mp3", "icecast://source:srcpw@" + base + "/live.mp3"},
                 false);
  auto set_title = [&](const std::string& encoded) {
    return run("curl -s -o /dev/null -f -u admin:adminpw \"http://" + base +
               "/admin/metadata?mount=/live.mp3&mode=updinfo&charset=UTF-8&song=" + encoded + "\"");
  };
  // The mount exists once the source is connected; the admin call fails before.
  t = Clock::now();
  while (!set_title("First%20Title") && seconds_since(t) < 10) usleep(100000);

  std::unique_ptr<Source> s;
  t = Clock::now();
  while (!s && seconds_since(t) < 15) {
    s = open_url_source("http://" + base + "/live.mp3", nullptr);
    if (!s) usleep(200000);
  }
  ASSERT_TRUE(s) << "could not open the station";
  EXPECT_EQ(s->info().rate, 44100);
  EXPECT_EQ(s->info().channels, 2);

  std::vector<float> buf(4096 * 2), heard;
  auto listen_until = [&](const std::string& title, double seconds) {
    const auto t0 = Clock::now();
    while (s->tag(TagKey::Title) != title && seconds_since(t0) < seconds && !s->finished()) {
      const size_t n = s->read(buf.data(), 4096);
      heard.insert(heard.end(), buf.begin(), buf.begin() + n * 2);
      if (n == 0) usleep(10000);
    }
    return s->tag(TagKey::Title);
  };
  EXPECT_EQ(listen_until("First Title", 15), "First Title");
  ASSERT_TRUE(set_title("Second%20Title%20%C3%A4"));
  EXPECT_EQ(listen_until("Second Title \xC3\xA4", 15), "Second Title \xC3\xA4");

  // What played is the station's tone, at the level of an independent decode.
  ASSERT_GT(heard.size(), 44100u * 2);
  const auto ref = ffmpeg_decode(mp3, 2);
  const size_t n = std::min<size_t>(heard.size() - 8192, 88200);
  EXPECT_NEAR(rms(heard.data() + 8192, n), rms(ref.data() + 8192, n), 0.005);
  EXPECT_FALSE(s->finished());
}

}  // namespace
