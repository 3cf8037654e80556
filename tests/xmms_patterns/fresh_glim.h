/* fresh_glim.h -- load a private copy of libglim.so for one test.
 *
 * Pattern state lives in the library's file-level variables for as long as
 * it stays loaded. Loading a copy under a new file name gives an instance
 * whose state is exactly as at load, so tests do not depend on their order,
 * and a second copy can replay the adaptive band levels a pattern saw.
 * Everything is reached by name, as a host reaches it. Copies stay
 * mapped until the process ends. */
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace fresh_glim {

typedef int init_fn(char *);
typedef int frame_fn(double *, int16_t *, int *, int16_t (*)[256], int);
typedef int deinit_fn(void);
typedef double levels_fn(int16_t (*)[256], double *, int);

struct Pattern {
    init_fn *init = nullptr;
    frame_fn *frame = nullptr;
    deinit_fn *deinit = nullptr;
};

class Library {
public:
    Library()
    {
        char path[] = "/tmp/glim_copyXXXXXX.so";
        int fd = mkstemps(path, 3);
        if (fd < 0)
            return;
        close(fd);
        {
            std::ifstream in(GLIM_LIBRARY, std::ios::binary);
            std::ofstream out(path, std::ios::binary);
            out << in.rdbuf();
        }
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            ADD_FAILURE() << "dlopen: " << dlerror();
        unlink(path);
    }
    /* Never unloaded: the libraries it pulled in (GTK, GLib) register
     * types for the life of the process, and their memory would show as
     * leaks from an unknown module once unmapped. */
    ~Library() = default;
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    bool ok() const { return handle_ != nullptr; }

    void *symbol(const std::string &name) const
    {
        return handle_ ? dlsym(handle_, name.c_str()) : nullptr;
    }

    Pattern pattern(const std::string &name) const
    {
        Pattern p;
        p.init = reinterpret_cast<init_fn *>(symbol(name + "_init"));
        p.frame = reinterpret_cast<frame_fn *>(symbol(name + "_frame"));
        p.deinit = reinterpret_cast<deinit_fn *>(symbol(name + "_deinit"));
        EXPECT_TRUE(p.init && p.frame && p.deinit) << name << " not exported";
        return p;
    }

    levels_fn *levels() const
    {
        return reinterpret_cast<levels_fn *>(symbol("get_n_scaled_values"));
    }

private:
    void *handle_ = nullptr;
};

} // namespace fresh_glim
