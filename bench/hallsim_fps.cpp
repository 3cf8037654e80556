/* hallsim_fps.cpp -- how fast the simulator draws: frames per second of
 * the free-running loop (read the socket, renderFrame) and the CPU time
 * of one DrawGLScene, under a private Xvfb at 640 x 480 with Mesa.
 *
 * For the record it sets the immediate-mode scene against the same
 * scene sent as one vertex array per frame (filled from the frame's
 * values each time, drawn with one glDrawArrays per texture), and checks
 * that both give the same picture. */
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <vector>

#include "wire/feed_client.h"
#include "hallsim/hall.h"
#include "support/xvfb.h"

namespace {

const int FRAMES = 600;

double now(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

/* ---- the scene as one vertex array ---- */

struct vertex {
    float s, t, r, g, b, x, y, z; /* GL_T2F_C3F_V3F */
};

enum { G_WALL, G_WOOD, G_CEILING, G_CARPET, G_TRIM, G_COUNT };
std::vector<vertex> groups[G_COUNT];
GLuint tex[4]; /* wood, wall, carpet, ceiling: as the back-end loads them */

struct trim {
    int plane; /* 0: u, 1: v, 2: w */
    float at, a0, a1, b0, b1, r, g, b;
};
const trim door_trim[] = {
    {0, -1.091f, -3.301f, 2.85f, 0.0f, 0.03f, 0.34f, 0.31f, 0.2f},
    {2, 0.03f, -1.091f, -1.0f, -3.301f, 2.85f, 0.3f, 0.27f, 0.16f},
    {0, -1.0f, -3.301f, 2.85f, 0.03f, -0.03f, 0.26f, 0.23f, 0.12f},
    {2, -0.03f, -1.0f, -0.97f, -3.301f, 2.85f, 0.24f, 0.21f, 0.1f},
    {0, -0.97f, -3.301f, 2.85f, -0.03f, -0.09f, 0.26f, 0.23f, 0.12f},
    {0, 1.091f, -3.301f, 2.85f, 0.0f, 0.03f, 0.34f, 0.31f, 0.2f},
    {2, 0.03f, 1.091f, 1.0f, -3.301f, 2.85f, 0.3f, 0.27f, 0.16f},
    {0, 1.0f, -3.301f, 2.85f, 0.03f, -0.03f, 0.26f, 0.23f, 0.12f},
    {2, -0.03f, 1.0f, 0.97f, -3.301f, 2.85f, 0.24f, 0.21f, 0.1f},
    {0, 0.97f, -3.301f, 2.85f, -0.03f, -0.09f, 0.26f, 0.23f, 0.12f},
    {1, 2.85f, -1.091f, 1.091f, 0.0f, 0.03f, 0.38f, 0.35f, 0.24f},
    {2, 0.03f, -1.091f, 1.091f, 2.76f, 2.85f, 0.3f, 0.27f, 0.16f},
    {1, 2.76f, -1.091f, 1.091f, 0.03f, -0.03f, 0.22f, 0.19f, 0.08f},
    {2, -0.03f, -1.091f, 1.091f, 2.73f, 2.76f, 0.24f, 0.21f, 0.1f},
    {1, 2.73f, -1.091f, 1.091f, -0.03f, -0.09f, 0.22f, 0.19f, 0.08f},
};

/* A wall section frame: u along the hallway, v up, w out of the wall. */
struct section {
    float side; /* +1 right wall (u = +z, w = -x), -1 left (u = -z, w = +x) */
    float zc;
};

void put(int g, section sc, float u, float v, float w, float s, float t, float c[3])
{
    float x = sc.side > 0 ? 1.95f - w : -1.95f + w;
    float z = sc.side > 0 ? sc.zc + u : sc.zc - u;
    groups[g].push_back({s, t, c[0], c[1], c[2], x, v, z});
}

void wall_quad(section sc, float v0, float v1, float t0, float t1, float c)
{
    float col[3] = {c, c, c};
    put(G_WALL, sc, -3.211f, v0, 0, 0.03f, t0, col);
    put(G_WALL, sc, 3.211f, v0, 0, 1.7f, t0, col);
    put(G_WALL, sc, 3.211f, v1, 0, 1.7f, t1, col);
    put(G_WALL, sc, -3.211f, v1, 0, 0.03f, t1, col);
}

void door(section sc, float c)
{
    float band[3] = {c, c, c}, white[3] = {1, 1, 1};
    put(G_WALL, sc, -1.091f, 2.85f, 0, 2.3033333f, 2.05f, band);
    put(G_WALL, sc, 1.091f, 2.85f, 0, 3.03f, 2.05f, band);
    put(G_WALL, sc, 1.091f, 3.301f, 0, 3.03f, 2.2f, band);
    put(G_WALL, sc, -1.091f, 3.301f, 0, 2.3033333f, 2.2f, band);
    for (const trim &p : door_trim) {
        float col[3] = {p.r, p.g, p.b};
        float q[4][3];
        float a[4] = {p.a0, p.a0, p.a1, p.a1}, b[4] = {p.b0, p.b1, p.b1, p.b0};
        for (int i = 0; i < 4; i++) {
            if (p.plane == 0) { q[i][0] = p.at; q[i][1] = a[i]; q[i][2] = b[i]; }
            else if (p.plane == 1) { q[i][0] = a[i]; q[i][1] = p.at; q[i][2] = b[i]; }
            else { q[i][0] = a[i]; q[i][1] = b[i]; q[i][2] = p.at; }
            put(G_TRIM, sc, q[i][0], q[i][1], q[i][2], 0, 0, col);
        }
    }
    put(G_WOOD, sc, -1, -3.301f, -0.09f, 0, 0, white);
    put(G_WOOD, sc, 1, -3.301f, -0.09f, 1, 0, white);
    put(G_WOOD, sc, 1, 2.76f, -0.09f, 1, 1, white);
    put(G_WOOD, sc, -1, 2.76f, -0.09f, 0, 1, white);
}

void ceiling_quad(float x0, float x1, float s0, float s1, float zc, float c)
{
    groups[G_CEILING].push_back({s0, 0, c, c, c, x0, 3.3f, zc + 4.3f});
    groups[G_CEILING].push_back({s1, 0, c, c, c, x1, 3.3f, zc + 4.3f});
    groups[G_CEILING].push_back({s1, -1, c, c, c, x1, 3.3f, zc - 4.3f});
    groups[G_CEILING].push_back({s0, -1, c, c, c, x0, 3.3f, zc - 4.3f});
}

void fill_arrays(const int *values)
{
    for (auto &g : groups)
        g.clear();
    for (int b = 0; b < 10; b++) {
        const int *v = values + 6 * b;
        for (float side : {1.0f, -1.0f}) {
            int lower = side > 0 ? v[5] : v[0], upper = side > 0 ? v[4] : v[1];
            section wall = {side, 39.79f - 8.6f * b}, dr = {side, 35.49f - 8.6f * b};
            wall_quad(wall, 0, 3.301f, 1.1f, 2.2f, scaleRawValue(upper));
            wall_quad(wall, -3.301f, 0, 0, 1.1f, scaleRawValue(lower));
            door(dr, scaleRawValue(upper));
        }
        float zc = 38.7f - 8.6f * b;
        ceiling_quad(-1.952f, 0, 0, 0.5f, zc, scaleRawValue(v[2]));
        ceiling_quad(0, 1.952f, 0.5f, 1, zc, scaleRawValue(v[3]));
    }
    groups[G_CARPET] = {{0, 0, 1, 1, 1, -2.042f, -3.3f, 43},
                        {3, 0, 1, 1, 1, 2.042f, -3.3f, 43},
                        {3, 75, 1, 1, 1, 2.042f, -3.3f, -43},
                        {0, 75, 1, 1, 1, -2.042f, -3.3f, -43}};
}

void draw_arrays(const view_state &view, const int *values)
{
    fill_arrays(values);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glRotatef(360.0f - view.pitch, 1, 0, 0);
    glRotatef(360.0f - view.yaw, 0, 1, 0);
    glTranslatef(-view.x, -view.y, -view.z);
    const GLuint bind[G_COUNT] = {tex[1], tex[0], tex[3], tex[2], 0};
    for (int g = 0; g < G_COUNT; g++) {
        if (g == G_TRIM)
            glDisable(GL_TEXTURE_2D);
        else {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, bind[g]);
        }
        glInterleavedArrays(GL_T2F_C3F_V3F, 0, groups[g].data());
        glDrawArrays(GL_QUADS, 0, (GLsizei)groups[g].size());
    }
    glEnable(GL_TEXTURE_2D);
}

void load_textures(void)
{
    const char *files[4] = {"wood.bmp", "wall.bmp", "carpet.bmp", "ceiling.bmp"};
    glGenTextures(4, tex);
    for (int i = 0; i < 4; i++) {
        SDL_Surface *s = LoadBMP(files[i]);
        if (!s)
            return;
        glBindTexture(GL_TEXTURE_2D, tex[i]);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, s->w, s->h, GL_RGB, GL_UNSIGNED_BYTE,
                          s->pixels);
        SDL_FreeSurface(s);
    }
}

std::vector<unsigned char> read_back(void)
{
    std::vector<unsigned char> px(640 * 480 * 3);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, 640, 480, GL_RGB, GL_UNSIGNED_BYTE, px.data());
    return px;
}

/* A moving pattern, so every frame has new values. */
void pattern(int n, int *values)
{
    for (int i = 0; i < 60; i++)
        values[i] = (int)(127.5 + 127.5 * sin(n * 0.1 + i * 0.3));
}

struct timing {
    double wall, cpu_thread, cpu_process;
};

template <typename F> timing measure(F draw_one)
{
    double w0 = now(CLOCK_MONOTONIC), t0 = now(CLOCK_THREAD_CPUTIME_ID),
           p0 = now(CLOCK_PROCESS_CPUTIME_ID);
    for (int n = 0; n < FRAMES; n++)
        draw_one(n);
    glFinish();
    return {(now(CLOCK_MONOTONIC) - w0) / FRAMES, (now(CLOCK_THREAD_CPUTIME_ID) - t0) / FRAMES,
            (now(CLOCK_PROCESS_CPUTIME_ID) - p0) / FRAMES};
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (argc > 1) {
        printf("Usage: hallsim_fps\n"
               "Starts a private Xvfb (640x480x24) and prints the simulator's frame rate\n"
               "and the cost of one DrawGLScene, immediate mode against a vertex array.\n");
        return strcmp(argv[1], "--help") == 0 ? 0 : 2;
    }
    testing_xvfb::Server x = testing_xvfb::start();
    if (x.display.empty()) {
        fprintf(stderr, "hallsim_fps: Xvfb did not start\n");
        return 1;
    }
    if (chdir(HALLSIM_TEXTURE_DIR) != 0) {
        perror("chdir(" HALLSIM_TEXTURE_DIR ")");
        return 1;
    }
    if (init_lights() != 0)
        return 1;
    printf("GL renderer: %s, %s\n", (const char *)glGetString(GL_RENDERER),
           (const char *)glGetString(GL_VERSION));

    /* The free-running loop as the program runs it, socket included. */
    int sock = open_udp_server(0);
    fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
    int values[60] = {0};
    timing loop = measure([&](int n) {
        read_data_packet(sock, values);
        pattern(n, values);
        renderFrame(values);
    });
    close(sock);

    view_state view{};
    view.y = 1.5f;
    view.z = 45.0f;
    timing immediate = measure([&](int n) {
        pattern(n, values);
        DrawGLScene(&view, values);
    });
    load_textures();
    timing arrays = measure([&](int n) {
        pattern(n, values);
        draw_arrays(view, values);
        SDL_GL_SwapBuffers();
    });

    /* Same picture both ways? */
    pattern(7, values);
    hall_draw_scene(&view, values);
    std::vector<unsigned char> a = read_back();
    draw_arrays(view, values);
    std::vector<unsigned char> b = read_back();
    long differing = 0;
    for (size_t i = 0; i < a.size(); i += 3)
        differing += abs(a[i] - b[i]) + abs(a[i + 1] - b[i + 1]) + abs(a[i + 2] - b[i + 2]) > 12;

    printf("free-running loop:      %8.1f frames/s\n", 1 / loop.wall);
    printf("DrawGLScene, immediate: %8.3f ms wall, %8.3f ms CPU (this thread), "
           "%8.3f ms CPU (all threads)\n",
           immediate.wall * 1e3, immediate.cpu_thread * 1e3, immediate.cpu_process * 1e3);
    printf("one vertex array/frame: %8.3f ms wall, %8.3f ms CPU (this thread), "
           "%8.3f ms CPU (all threads)\n",
           arrays.wall * 1e3, arrays.cpu_thread * 1e3, arrays.cpu_process * 1e3);
    printf("immediate / array:      %8.2f wall, %8.2f CPU (this thread)\n",
           immediate.wall / arrays.wall, immediate.cpu_thread / arrays.cpu_thread);
    printf("pixels that differ between the two pictures: %ld of %d\n", differing, 640 * 480);
    SDL_Quit();
    testing_xvfb::stop(x);
    return 0;
}
