/* pulse.h -- a private PulseAudio server for tests and benchmarks: its
 * own folder, an anonymous socket there and a null sink "hallsink", so
 * nothing reaches a loudspeaker and no desktop's server is touched. */
#pragma once

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testing_pulse {

/* Can a client connect to the server's socket yet? */
inline bool answers(const std::string &socket_path)
{
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    snprintf(a.sun_path, sizeof a.sun_path, "%s", socket_path.c_str());
    bool ok = connect(s, (sockaddr *)&a, sizeof a) == 0;
    close(s);
    return ok;
}

inline bool installed()
{
    return system("command -v pulseaudio >/dev/null 2>&1") == 0;
}

/* Start the server with its state in `dir` and point this process's
 * clients at it (PULSE_SERVER). Its pid once it answers, -1 otherwise. */
inline pid_t start(const std::string &dir)
{
    if (!installed())
        return -1;
    std::string socket_path = dir + "/native";
    pid_t server = fork();
    if (server == 0) {
        setenv("HOME", dir.c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (dir + "/run").c_str(), 1);
        setenv("PULSE_STATE_PATH", (dir + "/state").c_str(), 1);
        unsetenv("DISPLAY");
        std::string proto = "module-native-protocol-unix auth-anonymous=1 socket=" + socket_path;
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(127);
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
               "--use-pid-file=no", "--system=no", "-F", "/dev/null", ("--load=" + proto).c_str(),
               "--load=module-null-sink sink_name=hallsink", (char *)nullptr);
        _exit(127);
    }
    for (int i = 0; i < 1000 && !answers(socket_path); i++)
        usleep(10000);
    if (server < 0 || !answers(socket_path)) {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
        return -1;
    }
    setenv("PULSE_SERVER", ("unix:" + socket_path).c_str(), 1);
    return server;
}

inline void stop(pid_t server)
{
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    unsetenv("PULSE_SERVER");
}

} // namespace testing_pulse
