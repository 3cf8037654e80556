/* host_run.h -- running glimhost from a test: start it, wait for it, read
 * its output; count lines; write WAV files; find an X window and close it
 * the way a window manager's close button does. */
#pragma once

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace host_run {

struct Result {
    int code = -1;
    bool ended = false;
    std::string out, err;
};

/* Run glimhost with args; wait up to timeout_ms, then kill it. */
inline Result run(const std::vector<std::string> &args, int timeout_ms = 30000)
{
    std::vector<std::string> argv{GLIMHOST};
    argv.insert(argv.end(), args.begin(), args.end());
    auto c = testing_process::start(argv);
    Result r;
    r.ended = testing_process::wait_for(c, timeout_ms);
    if (!r.ended)
        testing_process::stop(c, SIGKILL);
    r.code = testing_process::exit_code(c);
    r.out = testing_process::out(c);
    r.err = testing_process::err(c);
    return r;
}

/* Run glimhost with its standard error on a pseudo-terminal (standard
 * output to /dev/null); r.err is what the terminal showed. */
inline Result run_on_terminal(const std::vector<std::string> &args, int timeout_ms = 30000)
{
    Result r;
    int master, slave;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return r;
    std::vector<std::string> argv{GLIMHOST};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(slave, 2);
        close(master);
        std::vector<char *> a;
        for (auto &s : argv)
            a.push_back(const_cast<char *>(s.c_str()));
        a.push_back(nullptr);
        execv(a[0], a.data());
        _exit(127);
    }
    close(slave);
    int status = 0;
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) {
            char buf[512];
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                r.err.append(buf, n);
        }
        if (waitpid(pid, &status, WNOHANG) == pid) {
            r.ended = true;
            break;
        }
    }
    if (!r.ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(master);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        n++;
    return n;
}

inline int lines(const std::string &text)
{
    return count(text, "\n");
}

/* 16-bit PCM WAV, frames interleaved by channel. */
inline void write_wav(const std::string &path, int rate, int channels,
                      const std::vector<int16_t> &samples)
{
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char *>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char *>(&v), 2); };
    uint32_t data_bytes = (uint32_t)(samples.size() * 2);
    f.write("RIFF", 4);
    u32(36 + data_bytes);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);                                   /* PCM */
    u16((uint16_t)channels);
    u32((uint32_t)rate);
    u32((uint32_t)(rate * channels * 2));     /* bytes a second */
    u16((uint16_t)(channels * 2));            /* bytes a frame */
    u16(16);                                  /* bits a sample */
    f.write("data", 4);
    u32(data_bytes);
    f.write(reinterpret_cast<const char *>(samples.data()), data_bytes);
}

/* A sine at FFT bin `bin` of a 512-point window: bin * rate / 512 Hz. */
inline int16_t tone(int bin, double amplitude, long n)
{
    return (int16_t)std::lrint(amplitude * std::sin(2 * M_PI * bin * (double)n / 512.0));
}

/* Values the probe plug-in printed for each callback: its number, the
 * peak's index and value, and row 1's largest value. */
struct Callback {
    long n;
    int peak, value, row1;
};

inline std::vector<Callback> callbacks(const std::string &out)
{
    std::vector<Callback> v;
    size_t p = 0;
    while ((p = out.find("probe: freq ", p)) != std::string::npos) {
        Callback c{};
        sscanf(out.c_str() + p, "probe: freq %ld peak %d value %d row1 %d", &c.n, &c.peak,
               &c.value, &c.row1);
        v.push_back(c);
        p++;
    }
    return v;
}

/* Single full-scale samples, 1 s into 3 s of silence, at irregular gaps
 * of more than a block (so no two share one), some on a block's first or
 * last sample. Their places in *at. */
inline void write_clicks(const std::string &path, std::vector<long> *at)
{
    const long gaps[] = {0, 700, 1500, 523, 2900, 613, 1024, 4000, 555, 1900, 800,
                         3333, 517, 2048, 961, 7000, 640, 1111, 3900, 530};
    std::vector<int16_t> s((size_t)3 * 44100 * 2, 0);
    long place = 44100 + 511; /* a block's last sample */
    for (long gap : gaps) {
        place += gap;
        at->push_back(place);
        s[(size_t)place * 2] = s[(size_t)place * 2 + 1] = 30000;
    }
    write_wav(path, 44100, 2, s);
}

/* Id of the visible window with this title, 0 when there is none. */
inline unsigned long find_window(const std::string &title)
{
    std::string cmd = "xdotool search --onlyvisible --name '" + title + "' 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return 0;
    unsigned long id = 0;
    if (fscanf(p, "%lu", &id) != 1)
        id = 0;
    pclose(p);
    return id;
}

/* Close a window as a window manager's close button does: send it the
 * WM_DELETE_WINDOW message; the toolkit then destroys the window itself. */
inline bool close_window(unsigned long id)
{
    Display *d = XOpenDisplay(nullptr);
    if (!d)
        return false;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = (Window)id;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, (Window)id, False, NoEventMask, &e);
    XSync(d, False);
    XCloseDisplay(d);
    return true;
}

} // namespace host_run
