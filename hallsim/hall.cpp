/* hall.cpp -- the simulator's light output back-end.
 *
 * Draws each light frame as a textured hallway in an OpenGL window (SDL
 * 1.2, immediate mode) and moves the viewer by keyboard and mouse after
 * every frame. State: the view, a frame of its own for light_state, the
 * frame counter and the pacing deadline. Any producer can link this file
 * in place of the network light server. */
#include "hallsim/hall.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <unistd.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include "installdirs/installdirs.h"

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>
#endif

namespace {

const int WINDOW_WIDTH = 640;
const int WINDOW_HEIGHT = 480;
const uint32_t LIGHT_STATE_PERIOD_MS = 28; /* light_state draws at most this often */

/* Texture slots, in the order InitTextures loads them. */
enum { TEX_WOOD, TEX_WALL, TEX_CARPET, TEX_CEILING, TEX_COUNT };
const char *const texture_files[TEX_COUNT] = {"wood.bmp", "wall.bmp", "carpet.bmp",
                                              "ceiling.bmp"};

/* Speed for 0..6 held movement inputs: 8 / sqrt(n), so that inputs along
 * different axes still add up to 8 units per second. */
const float speed_table[7] = {0.0f,       8.0f,      5.65685424f, 4.61880216f,
                              4.0f,       3.5777088f, 3.26598632f};
const double DEG_TO_RAD = 0.01745329251993889;

uint32_t sdl_ticks(void)
{
    return SDL_GetTicks();
}

struct view_state viewstate;         /* where the user stands and looks */
int light_data[LIGHT_CHANNELS];      /* light_state's own frame */
uint32_t frames = 0;                 /* frames drawn by renderFrame */
uint32_t start = 0;                  /* tick count the frame rate counts from */
uint32_t ticks = 0;                  /* earliest time light_state may draw again */
GLuint textures[TEX_COUNT];
int windowed = 0;                    /* --window: 640 x 480 window, not full screen */
uint32_t (*clock_now)(void) = sdl_ticks;
int gl_error_reported = 0;           /* report only the first GL error */

/* Navigation inputs held (UpdateViewState). */
int xv = 0, yv = 0, zv = 0; /* sideways, vertical, forward(-)/backward(+) */
int dirs = 0;               /* movement inputs held: presses minus releases */
uint32_t last_ticks = 0;

/* One trim piece of a door: a flat rectangle in a plane of the section
 * frame (u along the hallway, v up, w out of the wall). */
enum trim_plane { PLANE_U, PLANE_V, PLANE_W };
struct trim_piece {
    trim_plane plane;
    float at;           /* the plane's coordinate */
    float a0, a1;       /* extent along the first free axis (u, or v for a u plane) */
    float b0, b1;       /* extent along the second free axis (v, or w) */
    float r, g, b;
};

/* Left side (u < 0) first, then the right side, then the head from top
 * to jamb; depth testing sorts out what shows. */
const trim_piece door_trim[] = {
    /* casing outer edge, front, inner edge, stop front, jamb: left side */
    {PLANE_U, -1.091f, -3.301f, 2.85f, 0.0f, 0.03f, 0.34f, 0.31f, 0.2f},
    {PLANE_W, 0.03f, -1.091f, -1.0f, -3.301f, 2.85f, 0.3f, 0.27f, 0.16f},
    {PLANE_U, -1.0f, -3.301f, 2.85f, 0.03f, -0.03f, 0.26f, 0.23f, 0.12f},
    {PLANE_W, -0.03f, -1.0f, -0.97f, -3.301f, 2.85f, 0.24f, 0.21f, 0.1f},
    {PLANE_U, -0.97f, -3.301f, 2.85f, -0.03f, -0.09f, 0.26f, 0.23f, 0.12f},
    /* the same on the right side */
    {PLANE_U, 1.091f, -3.301f, 2.85f, 0.0f, 0.03f, 0.34f, 0.31f, 0.2f},
    {PLANE_W, 0.03f, 1.091f, 1.0f, -3.301f, 2.85f, 0.3f, 0.27f, 0.16f},
    {PLANE_U, 1.0f, -3.301f, 2.85f, 0.03f, -0.03f, 0.26f, 0.23f, 0.12f},
    {PLANE_W, -0.03f, 1.0f, 0.97f, -3.301f, 2.85f, 0.24f, 0.21f, 0.1f},
    {PLANE_U, 0.97f, -3.301f, 2.85f, -0.03f, -0.09f, 0.26f, 0.23f, 0.12f},
    /* head: top, front, underside, stop front, jamb */
    {PLANE_V, 2.85f, -1.091f, 1.091f, 0.0f, 0.03f, 0.38f, 0.35f, 0.24f},
    {PLANE_W, 0.03f, -1.091f, 1.091f, 2.76f, 2.85f, 0.3f, 0.27f, 0.16f},
    {PLANE_V, 2.76f, -1.091f, 1.091f, 0.03f, -0.03f, 0.22f, 0.19f, 0.08f},
    {PLANE_W, -0.03f, -1.091f, 1.091f, 2.73f, 2.76f, 0.24f, 0.21f, 0.1f},
    {PLANE_V, 2.73f, -1.091f, 1.091f, -0.03f, -0.09f, 0.22f, 0.19f, 0.08f},
};

void draw_trim_piece(const trim_piece &p)
{
    glColor3f(p.r, p.g, p.b);
    glBegin(GL_QUADS);
    switch (p.plane) {
    case PLANE_U: /* a = v, b = w */
        glVertex3f(p.at, p.a0, p.b0);
        glVertex3f(p.at, p.a0, p.b1);
        glVertex3f(p.at, p.a1, p.b1);
        glVertex3f(p.at, p.a1, p.b0);
        break;
    case PLANE_V: /* a = u, b = w */
        glVertex3f(p.a0, p.at, p.b0);
        glVertex3f(p.a1, p.at, p.b0);
        glVertex3f(p.a1, p.at, p.b1);
        glVertex3f(p.a0, p.at, p.b1);
        break;
    case PLANE_W: /* a = u, b = v */
        glVertex3f(p.a0, p.b0, p.at);
        glVertex3f(p.a1, p.b0, p.at);
        glVertex3f(p.a1, p.b1, p.at);
        glVertex3f(p.a0, p.b1, p.at);
        break;
    }
    glEnd();
}

void set_brightness(int value)
{
    float s = scaleRawValue(value);
    glColor3f(s, s, s);
}

/* A held movement input changes one axis by `step` and the count by
 * `held` (+1 on press, -1 on release). */
void move_input(int *axis, int step, int held)
{
    *axis += step;
    dirs += held;
}

/* Apply one key or button event; `sign` is +1 for a press, -1 for a
 * release. */
void apply_key(SDLKey key, int sign)
{
    switch (key) {
    case SDLK_s: move_input(&xv, -sign, sign); break;
    case SDLK_d: move_input(&xv, sign, sign); break;
    case SDLK_a: move_input(&yv, sign, sign); break;
    case SDLK_z: move_input(&yv, -sign, sign); break;
    case SDLK_UP: move_input(&zv, -sign, sign); break;
    case SDLK_DOWN: move_input(&zv, sign, sign); break;
    default: break;
    }
}

void apply_button(Uint8 button, int sign)
{
    if (button == SDL_BUTTON_MIDDLE)
        move_input(&zv, -sign, sign);
    else if (button == SDL_BUTTON_RIGHT)
        move_input(&zv, sign, sign);
}

void apply_motion(struct view_state *view, int xrel, int yrel)
{
    view->pitch = view->pitch + yrel * 0.2;
    view->yaw = view->yaw - xrel * 0.2;
    if (view->pitch > 90)
        view->pitch = 90;
    else if (view->pitch < -90)
        view->pitch = -90;
    /* A heading handed in from outside may be far out of range (or
     * infinite); bring it near first so that the loops below end. */
    if (!isfinite(view->yaw))
        view->yaw = 0;
    else if (fabsf(view->yaw) >= 3600.0f)
        view->yaw = fmodf(view->yaw, 360.0f);
    while (view->yaw >= 360)
        view->yaw -= 360;
    while (view->yaw < 0)
        view->yaw += 360;
}

/* Clamp to max first; the minimum is tested only when max did not apply. */
float clamp_axis(float v, float limit)
{
    if (v > limit)
        return limit;
    if (v < -limit)
        return -limit;
    return v;
}

#if defined(__SANITIZE_ADDRESS__)
/* Leak checking: SDL_Quit unloads the GL driver, and the leak checker
 * cannot name (or suppress) allocations of an unloaded library. Keep
 * every library loaded until the process ends. */
int pin_library(struct dl_phdr_info *info, size_t, void *)
{
    if (info->dlpi_name && info->dlpi_name[0])
        dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return 0;
}

void keep_libraries_loaded(void)
{
    dl_iterate_phdr(pin_library, NULL);
}
#else
void keep_libraries_loaded(void)
{
}
#endif

} // namespace

extern "C" {

/* Open the window and prepare drawing and navigation. 0 on success, 1 on
 * failure (with a message). */
int init_lights(void)
{
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        fprintf(stderr, "Unable to init SDL: %s\n", SDL_GetError());
        return 1;
    }
    if (InitGL(WINDOW_WIDTH, WINDOW_HEIGHT) != 0)
        return 1;
    SDL_WM_GrabInput(SDL_GRAB_ON);
    SDL_ShowCursor(SDL_DISABLE);

    /* Whatever happened while the window opened must not move the view. */
    SDL_Event event;
    while (SDL_PollEvent(&event))
        ;

    viewstate.x = 0;
    viewstate.y = 1.5f;
    viewstate.z = 45.0f;
    viewstate.pitch = 0;
    viewstate.yaw = 0;
    viewstate.vel_x = viewstate.vel_y = viewstate.vel_z = 0;
    memset(light_data, 0, sizeof light_data);
    return 0;
}

/* Close the window and print the frame rate since start-up. Always 0. */
int deinit_lights(void)
{
    SDL_Quit();
    uint32_t t = clock_now();
    uint32_t elapsed = t - start;
    /* A run shorter than a millisecond counts as one, rather than
     * dividing by zero. */
    if (elapsed == 0)
        elapsed = 1;
    printf("%f fps.\n", frames / (elapsed / 1000.0));
    return 0;
}

/* Draw one frame, then run one navigation step; on Escape or a closed
 * window close down and exit(0). Otherwise 0. */
int renderFrame(int values[60])
{
    DrawGLScene(&viewstate, values);
    frames++;
    if (!gl_error_reported) {
        GLenum error = glGetError();
        if (error != GL_NO_ERROR) {
            fprintf(stderr, "renderFrame: OpenGL error 0x%x\n", error);
            gl_error_reported = 1;
        }
    }
    if (UpdateViewState(&viewstate)) {
        deinit_lights();
        exit(0);
    }
    return 0;
}

/* Set the six channels of `light` to on * 255 and draw, at most every
 * 28 ms on average. A box outside 0..9 changes nothing; an `on` so large
 * that on * 255 overflows saturates. Always 0. */
int light_state(int light, int on)
{
    long long level = (long long)on * 255;
    if (level > INT_MAX)
        level = INT_MAX;
    else if (level < INT_MIN)
        level = INT_MIN;
    if (light >= 0 && light < LIGHT_BOXES)
        for (int k = 0; k < LIGHT_CHANNELS_PER_BOX; k++)
            light_data[light * LIGHT_CHANNELS_PER_BOX + k] = (int)level;
    uint32_t now = clock_now();
    if (now < ticks)
        return 0;
    renderFrame(light_data);
    /* From the previous deadline, so the average rate holds. */
    ticks += LIGHT_STATE_PERIOD_MS;
    return 0;
}

int InitGL(int width, int height)
{
    Uint32 flags = SDL_OPENGL;
    if (windowed) {
        /* Top-left corner when no window manager places the window. */
        setenv("SDL_VIDEO_WINDOW_POS", "0,0", 1);
    } else {
        flags |= SDL_FULLSCREEN;
    }
    SDL_WM_SetCaption("hallsim", "hallsim");
    if (SDL_SetVideoMode(width, height, 0, flags) == NULL) {
        fprintf(stderr, "Unable to create OpenGL screen: %s\n", SDL_GetError());
        SDL_Quit();
        return 2;
    }
    keep_libraries_loaded();
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    /* 4:3 whatever the window's shape, as the hallway was laid out for. */
    gluPerspective(45.0, 1.3333334f, 0.1, 120.0);
    glMatrixMode(GL_MODELVIEW);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    InitTextures();
    glEnable(GL_TEXTURE_2D);
    return 0;
}

/* A texture from the working directory, else from the installed data
 * folder. Null (with a message) when neither place has it. */
static SDL_Surface *load_texture(const char *name)
{
    char installed[PATH_MAX];
    installdirs_data(installed, sizeof installed, name);
    if (access(name, F_OK) != 0 && access(installed, F_OK) == 0)
        return LoadBMP(installed);
    SDL_Surface *image = LoadBMP(name);
    if (image == NULL && access(name, F_OK) != 0) {
        char folder[PATH_MAX];
        fprintf(stderr, "%s is in neither the working directory nor %s\n", name,
                installdirs_data(folder, sizeof folder, ""));
    }
    return image;
}

void InitTextures(void)
{
    glGenTextures(TEX_COUNT, textures);
    for (int i = 0; i < TEX_COUNT; i++) {
        SDL_Surface *image = load_texture(texture_files[i]);
        if (image == NULL) {
            SDL_Quit();
            exit(1);
        }
        glBindTexture(GL_TEXTURE_2D, textures[i]);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
        gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, image->w, image->h, GL_RGB,
                          GL_UNSIGNED_BYTE, image->pixels);
        SDL_FreeSurface(image);
    }
}

/* Why SDL's blitter could not convert `s`, or NULL when it can. SDL's
 * loader keeps the header's bit count in bytes of the format, so a count
 * of 256 or more wraps round: the blitter would then pick its routine by
 * a pixel size outside 1..4, or map colours through a palette that was
 * never made. */
static const char *bmp_format_problem(const SDL_Surface *s)
{
    const SDL_PixelFormat *f = s->format;
    if (f->BytesPerPixel < 1 || f->BytesPerPixel > 4)
        return "unsupported pixel format";
    if (f->BitsPerPixel <= 8 && (f->palette == NULL || f->palette->ncolors < 1))
        return "palette picture without a palette";
    return NULL;
}

/* Why the file's headers cannot be trusted, or NULL when they can. SDL
 * reads the fields a short file lacks from memory it never filled, so a
 * file that ends inside the header it announces is refused before SDL
 * sees it. A file that cannot be opened is left to SDL's own message. */
static const char *bmp_header_problem(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (f == NULL)
        return NULL;
    unsigned char head[18];             /* file header, then the info size */
    size_t got = fread(head, 1, sizeof head, f);
    long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    fclose(f);
    if (got < sizeof head)
        return "file ends inside its header";
    unsigned long info = head[14] | head[15] << 8 | (unsigned long)head[16] << 16 |
                         (unsigned long)head[17] << 24;
    if (info < 12 || size < 0 || (unsigned long)size < 14 + info)
        return "file ends inside its header";
    return NULL;
}

SDL_Surface *LoadBMP(const char *path)
{
    const char *truncated = bmp_header_problem(path);
    if (truncated) {
        fprintf(stderr, "Unable to load %s: %s\n", path, truncated);
        return NULL;
    }
    SDL_Surface *image = SDL_LoadBMP_RW(SDL_RWFromFile(path, "rb"), 1);
    if (image == NULL) {
        fprintf(stderr, "Unable to load %s: %s\n", path, SDL_GetError());
        return NULL;
    }
    const char *problem = NULL;
    if (image->w <= 0 || image->h <= 0)
        problem = "empty picture";
    else
        problem = bmp_format_problem(image);
    if (problem) {
        fprintf(stderr, "Unable to load %s: %s\n", path, problem);
        SDL_FreeSurface(image);
        return NULL;
    }
    /* The conversion below works on three bytes per pixel, blue first;
     * bring other depths (palettes, 16 and 32 bits) to that layout. */
    if (image->format->BytesPerPixel != 3 || image->format->Bmask != 0x0000ff) {
        SDL_Surface *bgr = SDL_CreateRGBSurface(SDL_SWSURFACE, image->w, image->h, 24,
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
                                                0xff0000, 0x00ff00, 0x0000ff,
#else
                                                0x0000ff, 0x00ff00, 0xff0000,
#endif
                                                0);
        if (bgr == NULL) {
            fprintf(stderr, "Out of memory\n");
            SDL_FreeSurface(image);
            return NULL;
        }
        SDL_SetAlpha(image, 0, 255);
        SDL_BlitSurface(image, NULL, bgr, NULL);
        SDL_FreeSurface(image);
        image = bgr;
    }
    const int pitch = image->pitch;
    unsigned char *row = (unsigned char *)malloc(pitch);
    if (row == NULL) {
        fprintf(stderr, "Out of memory\n");
        SDL_FreeSurface(image);
        return NULL;
    }
    unsigned char *pixels = (unsigned char *)image->pixels;
    /* OpenGL wants red first and the bottom row first. */
    for (int r = 0; r < image->h; r++) {
        unsigned char *p = pixels + (size_t)r * pitch;
        for (int i = 0; i < image->w; i++) {
            unsigned char blue = p[3 * i];
            p[3 * i] = p[3 * i + 2];
            p[3 * i + 2] = blue;
        }
    }
    for (int r = 0; r < image->h / 2; r++) {
        unsigned char *top = pixels + (size_t)r * pitch;
        unsigned char *bottom = pixels + (size_t)(image->h - 1 - r) * pitch;
        memcpy(row, top, pitch);
        memcpy(top, bottom, pitch);
        memcpy(bottom, row, pitch);
    }
    free(row);
    return image;
}

void DrawGLScene(struct view_state *view, int values[60])
{
    hall_draw_scene(view, values);
    SDL_GL_SwapBuffers();
}

void hall_draw_scene(struct view_state *view, int values[60])
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glRotatef(360.0f - view->pitch, 1.0f, 0.0f, 0.0f);
    glRotatef(360.0f - view->yaw, 0.0f, 1.0f, 0.0f);
    glTranslatef(-view->x, -view->y, -view->z);

    /* Right wall: section frame u = +z, w = -x, from the start end on. */
    glPushMatrix();
    glRotatef(-90.0f, 0.0f, 1.0f, 0.0f);
    glTranslatef(39.79f, 0.0f, -1.95f);
    for (int b = 0; b < LIGHT_BOXES; b++) {
        if (b > 0)
            glTranslatef(-4.3f, 0.0f, 0.0f);
        DrawWallSect(values[6 * b + 5], values[6 * b + 4]);
        glTranslatef(-4.3f, 0.0f, 0.0f);
        DrawDoorSect(values[6 * b + 4]);
    }
    glPopMatrix();

    /* Left wall: the mirror image, u = -z, w = +x. */
    glPushMatrix();
    glRotatef(90.0f, 0.0f, 1.0f, 0.0f);
    glTranslatef(-39.79f, 0.0f, -1.95f);
    for (int b = 0; b < LIGHT_BOXES; b++) {
        if (b > 0)
            glTranslatef(4.3f, 0.0f, 0.0f);
        DrawWallSect(values[6 * b], values[6 * b + 1]);
        glTranslatef(4.3f, 0.0f, 0.0f);
        DrawDoorSect(values[6 * b + 1]);
    }
    glPopMatrix();

    glPushMatrix();
    glTranslatef(0.0f, 0.0f, 38.7f);
    DrawCeilingSect(values[2], values[3]);
    for (int b = 1; b < LIGHT_BOXES; b++) {
        glTranslatef(0.0f, 0.0f, -8.6f);
        DrawCeilingSect(values[6 * b + 2], values[6 * b + 3]);
    }
    glPopMatrix();

    /* Floor: carpet repeated 3 times across and 75 times along. */
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textures[TEX_CARPET]);
    glColor3f(1.0f, 1.0f, 1.0f);
    glBegin(GL_TRIANGLE_STRIP);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-2.042f, -3.3f, 43.0f);
    glTexCoord2f(3.0f, 0.0f);
    glVertex3f(2.042f, -3.3f, 43.0f);
    glTexCoord2f(0.0f, 75.0f);
    glVertex3f(-2.042f, -3.3f, -43.0f);
    glTexCoord2f(3.0f, 75.0f);
    glVertex3f(2.042f, -3.3f, -43.0f);
    glEnd();
}

void DrawWallSect(int lower, int upper)
{
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textures[TEX_WALL]);
    glBegin(GL_QUADS);
    set_brightness(upper);
    glTexCoord2f(0.03f, 1.1f);
    glVertex3f(-3.211f, 0.0f, 0.0f);
    glTexCoord2f(1.7f, 1.1f);
    glVertex3f(3.211f, 0.0f, 0.0f);
    glTexCoord2f(1.7f, 2.2f);
    glVertex3f(3.211f, 3.301f, 0.0f);
    glTexCoord2f(0.03f, 2.2f);
    glVertex3f(-3.211f, 3.301f, 0.0f);

    set_brightness(lower);
    glTexCoord2f(0.03f, 0.0f);
    glVertex3f(-3.211f, -3.301f, 0.0f);
    glTexCoord2f(1.7f, 0.0f);
    glVertex3f(3.211f, -3.301f, 0.0f);
    glTexCoord2f(1.7f, 1.1f);
    glVertex3f(3.211f, 0.0f, 0.0f);
    glTexCoord2f(0.03f, 1.1f);
    glVertex3f(-3.211f, 0.0f, 0.0f);
    glEnd();
}

void DrawDoorSect(int upper)
{
    /* Band of wall over the door; the strip's first and last triangles
     * have no area. */
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textures[TEX_WALL]);
    set_brightness(upper);
    glBegin(GL_TRIANGLE_STRIP);
    glTexCoord2f(2.3033333f, 2.05f);
    glVertex3f(-1.091f, 2.85f, 0.0f);
    glTexCoord2f(2.3033333f, 2.05f);
    glVertex3f(-1.091f, 2.85f, 0.0f);
    glTexCoord2f(2.3033333f, 2.2f);
    glVertex3f(-1.091f, 3.301f, 0.0f);
    glTexCoord2f(3.03f, 2.05f);
    glVertex3f(1.091f, 2.85f, 0.0f);
    glTexCoord2f(3.03f, 2.2f);
    glVertex3f(1.091f, 3.301f, 0.0f);
    glTexCoord2f(3.03f, 2.2f);
    glVertex3f(1.091f, 3.301f, 0.0f);
    glEnd();

    glDisable(GL_TEXTURE_2D);
    for (const trim_piece &p : door_trim)
        draw_trim_piece(p);

    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textures[TEX_WOOD]);
    glColor3f(1.0f, 1.0f, 1.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-1.0f, -3.301f, -0.09f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(1.0f, -3.301f, -0.09f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(1.0f, 2.76f, -0.09f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-1.0f, 2.76f, -0.09f);
    glEnd();
}

void DrawCeilingSect(int left, int right)
{
    /* Texturing is still on from the door leaves. */
    glBindTexture(GL_TEXTURE_2D, textures[TEX_CEILING]);
    glBegin(GL_QUADS);
    set_brightness(left);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-1.952f, 3.3f, 4.3f);
    glTexCoord2f(0.5f, 0.0f);
    glVertex3f(0.0f, 3.3f, 4.3f);
    glTexCoord2f(0.5f, -1.0f);
    glVertex3f(0.0f, 3.3f, -4.3f);
    glTexCoord2f(0.0f, -1.0f);
    glVertex3f(-1.952f, 3.3f, -4.3f);

    set_brightness(right);
    glTexCoord2f(0.5f, 0.0f);
    glVertex3f(0.0f, 3.3f, 4.3f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(1.952f, 3.3f, 4.3f);
    glTexCoord2f(1.0f, -1.0f);
    glVertex3f(1.952f, 3.3f, -4.3f);
    glTexCoord2f(0.5f, -1.0f);
    glVertex3f(0.0f, 3.3f, -4.3f);
    glEnd();
}

float scaleRawValue(int v)
{
    return (float)(v / 319.0 + 0.2);
}

int UpdateViewState(struct view_state *view)
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
        case SDL_KEYDOWN:
            if (event.key.keysym.sym == SDLK_ESCAPE)
                return 1;
            apply_key(event.key.keysym.sym, 1);
            break;
        case SDL_KEYUP:
            apply_key(event.key.keysym.sym, -1);
            break;
        case SDL_MOUSEBUTTONDOWN:
            apply_button(event.button.button, 1);
            break;
        case SDL_MOUSEBUTTONUP:
            apply_button(event.button.button, -1);
            break;
        case SDL_MOUSEMOTION:
            apply_motion(view, event.motion.xrel, event.motion.yrel);
            break;
        case SDL_QUIT:
            return 1;
        default:
            break;
        }
    }

    uint32_t now = clock_now();
    double dt = (uint32_t)(now - last_ticks) / 1000.0;
    last_ticks = now;
    double decay = exp(-8.0 * dt);

    double yaw_r = view->yaw * DEG_TO_RAD;
    double pitch_r = view->pitch * DEG_TO_RAD;
    double dx = 0, dy = yv, dz = 0;
    if (xv > 0) {
        dx = cos(yaw_r);
        dz = -sin(yaw_r);
    } else if (xv < 0) {
        dx = -cos(yaw_r);
        dz = sin(yaw_r);
    }
    if (zv != 0) {
        double f;
        if (zv > 0) {
            dy -= sin(pitch_r);
            f = cos(pitch_r);
        } else {
            dy += sin(pitch_r);
            f = -cos(pitch_r);
        }
        dz += cos(yaw_r) * f;
        dx += sin(yaw_r) * f;
    }

    /* More inputs can be counted than the table has entries (eight
     * inputs exist, and releases of presses drained at start-up count
     * down): clamp to the table. */
    int n = dirs < 0 ? 0 : dirs > 6 ? 6 : dirs;
    double g = (1.0 - decay) * speed_table[n];
    dx *= g;
    dy *= g;
    dz *= g;

    view->vel_x = view->vel_x * decay + dx;
    view->x = view->x + view->vel_x * dt;
    view->vel_y = view->vel_y * decay + dy;
    view->y = view->y + view->vel_y * dt;
    view->vel_z = view->vel_z * decay + dz;
    view->z = view->z + view->vel_z * dt;

    /* Never closer than 0.15 to a wall, floor or ceiling; 2 units beyond
     * either end. */
    view->x = clamp_axis(view->x, 1.8f);
    view->y = clamp_axis(view->y, 3.18f);
    view->z = clamp_axis(view->z, 45.0f);

    fflush(stdout);
    return 0;
}

void hall_set_windowed(int on)
{
    windowed = on;
}

void hall_set_clock(uint32_t (*now)(void))
{
    clock_now = now ? now : sdl_ticks;
}

uint32_t hall_frames_drawn(void)
{
    return frames;
}

} // extern "C"
