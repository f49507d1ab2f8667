// The entry point through the real libraries: exit ids and reasons, the trace
// line, the context's life, and what each library does in the other role.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <string>

#include "exit_support.h"

namespace velt::test {
namespace {

std::string Pid4() {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", static_cast<int>(getpid()));
  return text;
}

bool HasContext(const agent::ChannelEnd& end) {
  static const unsigned char zero[sizeof(void*)] = {};
  return std::memcmp(end.parms.ExitUserArea, zero, sizeof(void*)) != 0;
}

TEST(ExitEntry, WrongExitIdIsSuppressedAndLeavesNothingBehind) {
  for (int32_t id : {11, 15}) {
    ExitFixture f("LogLevel = 4");
    agent::ChannelEnd end;
    agent::EndSettings settings = EndWith(4096);
    settings.exit_id = id;
    agent::SetUpEnd(&end, SendLibrary().entry, settings);
    EXPECT_EQ(agent::CallEnd(&end, MQXR_INIT), MQXCC_SUPPRESS_EXIT);
    // A suppressed exit is called no more, MQXR_TERM included: the context
    // and the log stream it opened must be gone already.
    EXPECT_FALSE(HasContext(end));
    const std::string name = id == 11 ? "SEC_EXIT" : "MSG_RETRY_EXIT";
    EXPECT_TRUE(f.Logged("4] SDR :velt_exit: [" + Pid4() + "] TO.QM2              : Reason MQXR_INIT, Ids " + name));
    EXPECT_TRUE(f.Logged("0] SDR :velt_exit invoked with wrong type of exit id (" + std::to_string(id) + ")"));
  }
}

TEST(ExitEntry, LifeOfAnInstance) {
  ExitFixture f("LogLevel = 5\nStatistics = 1");
  agent::ChannelEnd end;
  agent::SetUpEnd(&end, RecvLibrary().entry, EndWith(4096));
  end.parms.ExitId = MQXT_CHANNEL_RCV_EXIT;
  ASSERT_EQ(agent::StartEnd(&end), MQXCC_OK);
  ASSERT_TRUE(HasContext(end));
  for (int32_t reason :
       {int32_t{MQXR_MSG}, int32_t{MQXR_SEC_MSG}, int32_t{MQXR_INIT_SEC}, int32_t{MQXR_RETRY}, int32_t{99}}) {
    end.parms.ExitResponse2 = 7;
    EXPECT_EQ(agent::CallEnd(&end, reason), MQXCC_OK);
    EXPECT_EQ(end.parms.ExitResponse2, MQXR2_USE_AGENT_BUFFER);
  }
  EXPECT_EQ(agent::StopEnd(&end), MQXCC_OK);
  EXPECT_FALSE(HasContext(end)) << "the released context must not stay reachable";

  const auto log = f.Log();
  const std::string trace = "4] RCVR :velt_exit: [" + Pid4() + "] TO.QM2              : Reason ";
  EXPECT_TRUE(f.Logged(trace + "MQXR_INIT, Ids RCV_EXIT"));
  EXPECT_TRUE(f.Logged(trace + "MQXR_RETRY, Ids RCV_EXIT"));
  EXPECT_TRUE(f.Logged(trace + "UNKNOWN, Ids RCV_EXIT"));
  EXPECT_TRUE(f.Logged("5] RCVR :velt_exit: data length is         0 bytes"));
  EXPECT_TRUE(f.Logged("5] RCVR :velt_exit: agent_buffer_length is 4096 bytes"));
  EXPECT_TRUE(f.LoggedSomething("4] RCVR :velt_exit: MQXR_INIT, cd = 0x"));
  EXPECT_TRUE(f.LoggedSomething("5] RCVR :velt_exit: MQXR_TERM, cd = 0x"));
  // Read at creation and again at MQXR_INIT.
  int readings = 0;
  for (const auto& line : log) readings += line == "4] RCVR :ReadCfg: Log level  = 5" ? 1 : 0;
  EXPECT_EQ(readings, 2);
  EXPECT_EQ(f.Stats(), "") << "a receive exit keeps no statistics";
}

TEST(ExitEntry, FollowsTheInstanceIntoAForkedProcess) {
  ExitFixture f("LogLevel = 4");
  agent::ChannelEnd end;
  agent::SetUpEnd(&end, SendLibrary().entry, EndWith(4096));
  ASSERT_EQ(agent::StartEnd(&end), MQXCC_OK);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    agent::CallEnd(&end, MQXR_MSG);
    agent::CallEnd(&end, MQXR_RETRY);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  agent::CallEnd(&end, MQXR_MSG);
  agent::StopEnd(&end);
  char child_pid[16], own_pid[16];
  std::snprintf(child_pid, sizeof child_pid, "%04d", static_cast<int>(child));
  std::snprintf(own_pid, sizeof own_pid, "%04d", static_cast<int>(getpid()));
  const std::string trace = "4] SDR :velt_exit: [";
  const std::string tail = "] TO.QM2              : Reason ";
  EXPECT_TRUE(f.Logged(trace + child_pid + tail + "MQXR_MSG, Ids SEND_EXIT"));
  EXPECT_TRUE(f.Logged(trace + child_pid + tail + "MQXR_RETRY, Ids SEND_EXIT"));
  EXPECT_TRUE(f.Logged(trace + own_pid + tail + "MQXR_MSG, Ids SEND_EXIT"));
}

TEST(ExitEntry, CompressionZeroPassesEverythingAndCountsNothing) {
  ExitFixture f("LogLevel = 4\nStatistics = 2\nCompression = 0");
  agent::StreamBuilder builder = Builder(4096);
  agent::ChannelEnd end;
  agent::SetUpEnd(&end, SendLibrary().entry, EndWith(4096));
  ASSERT_EQ(agent::StartEnd(&end), MQXCC_OK);
  for (int i = 0; i < 3; ++i) {
    const auto segments = agent::BuildMessage(&builder, 0, Text(900));
    const agent::Delivery d = agent::TransmitOnEnd(&end, segments[0].data(), static_cast<int32_t>(segments[0].size()));
    EXPECT_EQ(d.response2, MQXR2_USE_AGENT_BUFFER);
    ASSERT_EQ(d.length, static_cast<int32_t>(segments[0].size()));
    EXPECT_EQ(std::memcmp(d.data, segments[0].data(), segments[0].size()), 0);
  }
  agent::StopEnd(&end);
  EXPECT_FALSE(FileExists(f.stats_file));
  EXPECT_FALSE(f.LoggedSomething("ProcessXmitSend: before"));
}

TEST(ExitEntry, EachLibraryPassesTheOtherDirectionUnchanged) {
  ExitFixture f("LogLevel = 4\nStatistics = 2");
  agent::StreamBuilder builder = Builder(4096);
  agent::BuildMessage(&builder, 0, Text(10));  // the first message would pass plain anyway
  const auto segments = agent::BuildMessage(&builder, 0, Text(2000));

  // The send library attached as a receive exit.
  agent::ChannelEnd as_recv;
  agent::EndSettings recv_settings = EndWith(4096);
  recv_settings.exit_id = MQXT_CHANNEL_RCV_EXIT;
  agent::SetUpEnd(&as_recv, SendLibrary().entry, recv_settings);
  agent::StartEnd(&as_recv);
  agent::Delivery d = agent::TransmitOnEnd(&as_recv, segments[0].data(), static_cast<int32_t>(segments[0].size()));
  EXPECT_EQ(d.response2, MQXR2_USE_AGENT_BUFFER);
  EXPECT_EQ(d.length, 2476);
  agent::StopEnd(&as_recv);
  EXPECT_TRUE(f.Logged("4] SDR :velt_exit: ProcessXmitRecv: before 2476 after 2476"));

  // The receive library attached as a send exit: counted, never compressed.
  agent::ChannelEnd as_send;
  agent::SetUpEnd(&as_send, RecvLibrary().entry, EndWith(4096));
  agent::StartEnd(&as_send);
  d = agent::TransmitOnEnd(&as_send, segments[0].data(), static_cast<int32_t>(segments[0].size()));
  EXPECT_EQ(d.response2, MQXR2_USE_AGENT_BUFFER);
  agent::StopEnd(&as_send);
  EXPECT_EQ(f.Stats(),
            " 00001  00000  B= 02476 A= 02476 Ratio = 1.0000 (Mean = N/A) \n"
            "Total msgs  00001 of which  00000 were compressed\n");
}

}  // namespace
}  // namespace velt::test
