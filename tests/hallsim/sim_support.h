/* sim_support.h -- helpers for the simulator's tests: plain BMP pictures
 * to load as textures, a scratch directory to start from, projecting a
 * world point to the screen, and reading the X screen back. */
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <functional>
#include <string>
#include <vector>

namespace sim_support {

struct rgb {
    int r, g, b;
};

/* Write a 24-bit BMP of w x h; pixel(x, y) gives the colour, y = 0 top. */
inline bool write_bmp(const std::string &path, int w, int h,
                      const std::function<rgb(int, int)> &pixel)
{
    int row = (w * 3 + 3) & ~3;
    std::vector<unsigned char> out(54 + (size_t)row * h, 0);
    auto le = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; i++)
            out[at + i] = (unsigned char)(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    le(2, (uint32_t)out.size(), 4);
    le(10, 54, 4);       /* pixel data offset */
    le(14, 40, 4);       /* info header size */
    le(18, w, 4);
    le(22, h, 4);        /* positive: bottom row first */
    le(26, 1, 2);        /* planes */
    le(28, 24, 2);       /* bits per pixel */
    for (int y = 0; y < h; y++) {
        unsigned char *dst = &out[54 + (size_t)(h - 1 - y) * row];
        for (int x = 0; x < w; x++) {
            rgb c = pixel(x, y);
            dst[3 * x] = (unsigned char)c.b;
            dst[3 * x + 1] = (unsigned char)c.g;
            dst[3 * x + 2] = (unsigned char)c.r;
        }
    }
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
    return fclose(f) == 0 && ok;
}

/* A scratch directory holding the four texture files, each a plain white
 * picture (so that a surface shows its brightness directly), except
 * those named in `leave_out`. */
inline std::string texture_dir(const std::vector<std::string> &leave_out = {})
{
    char tmpl[] = "/tmp/hallsim_texXXXXXX";
    std::string dir = mkdtemp(tmpl);
    for (const char *name : {"wood.bmp", "wall.bmp", "carpet.bmp", "ceiling.bmp"}) {
        bool skip = false;
        for (auto &l : leave_out)
            skip |= l == name;
        if (!skip)
            write_bmp(dir + "/" + name, 8, 8, [](int, int) { return rgb{255, 255, 255}; });
    }
    return dir;
}

inline void remove_dir(const std::string &dir)
{
    for (const char *name : {"wood.bmp", "wall.bmp", "carpet.bmp", "ceiling.bmp"})
        unlink((dir + "/" + name).c_str());
    rmdir(dir.c_str());
}

/* A picture read back, bottom row first as OpenGL gives it. */
struct image {
    int w = 0, h = 0;
    std::vector<unsigned char> px; /* RGB */
    rgb at(int x, int y) const
    {
        const unsigned char *p = &px[((size_t)y * w + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

/* The back buffer as it stands (read before the swap). */
inline image read_back_buffer(int w = 640, int h = 480)
{
    image im;
    im.w = w;
    im.h = h;
    im.px.resize((size_t)w * h * 3);
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, im.px.data());
    return im;
}

/* The X screen of $DISPLAY, turned bottom row first like the GL image. */
inline image screenshot(int w = 640, int h = 480)
{
    image im;
    Display *d = XOpenDisplay(nullptr);
    if (!d)
        return im;
    XImage *x = XGetImage(d, DefaultRootWindow(d), 0, 0, w, h, AllPlanes, ZPixmap);
    if (x) {
        im.w = w;
        im.h = h;
        im.px.resize((size_t)w * h * 3);
        for (int y = 0; y < h; y++)
            for (int i = 0; i < w; i++) {
                unsigned long p = XGetPixel(x, i, y);
                unsigned char *o = &im.px[((size_t)(h - 1 - y) * w + i) * 3];
                o[0] = (p >> 16) & 0xff;
                o[1] = (p >> 8) & 0xff;
                o[2] = p & 0xff;
            }
        XDestroyImage(x);
    }
    XCloseDisplay(d);
    return im;
}

/* Pixels whose three components are all within tol of v. */
inline long count_grey(const image &im, int v, int tol = 3)
{
    long n = 0;
    for (size_t i = 0; i + 2 < im.px.size(); i += 3)
        if (abs(im.px[i] - v) <= tol && abs(im.px[i + 1] - v) <= tol &&
            abs(im.px[i + 2] - v) <= tol)
            n++;
    return n;
}

/* Window coordinates (origin bottom left) of a world point under the
 * current GL matrices; false when it is behind the viewer. */
inline bool project(double x, double y, double z, double *wx, double *wy)
{
    GLdouble model[16], proj[16];
    GLint view[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, proj);
    glGetIntegerv(GL_VIEWPORT, view);
    GLdouble wz;
    if (gluProject(x, y, z, model, proj, view, wx, wy, &wz) != GL_TRUE)
        return false;
    return wz > 0 && wz < 1;
}

} // namespace sim_support
