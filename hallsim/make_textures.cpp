/* make_textures.cpp -- writes the simulator's four surface pictures
 * (wood grain, painted wall, carpet, ceiling tiles) as 24-bit BMP files
 * into a directory, at build time, so that no binary pictures live in
 * the repository. The pictures are drawn from a fixed seed: every build
 * makes the same files. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct picture {
    int w, h;
    std::vector<unsigned char> rgb; /* w * h * 3, top row first */
};

uint32_t seed = 12345u;

/* A small fixed-seed generator; 0..1. */
double noise(void)
{
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) / 16777216.0;
}

/* Smooth value noise on a grid of `cell` pixels, wrapping every `period`
 * cells so that the pictures tile without seams. */
struct value_noise {
    int period;
    std::vector<double> grid;
};

value_noise make_noise(int period)
{
    value_noise n{period, std::vector<double>((size_t)period * period)};
    for (double &v : n.grid)
        v = noise();
    return n;
}

double sample(const value_noise &n, double x, double y)
{
    int x0 = (int)floor(x), y0 = (int)floor(y);
    double fx = x - x0, fy = y - y0;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    auto at = [&](int gx, int gy) {
        gx = ((gx % n.period) + n.period) % n.period;
        gy = ((gy % n.period) + n.period) % n.period;
        return n.grid[(size_t)gy * n.period + gx];
    };
    double a = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * fx;
    double b = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx;
    return a + (b - a) * fy;
}

unsigned char byte(double v)
{
    return (unsigned char)(v < 0 ? 0 : v > 255 ? 255 : v + 0.5);
}

void put(picture &p, int x, int y, double r, double g, double b)
{
    unsigned char *px = &p.rgb[((size_t)y * p.w + x) * 3];
    px[0] = byte(r);
    px[1] = byte(g);
    px[2] = byte(b);
}

/* Door leaf: vertical grain with slow waves and darker late-wood lines. */
picture make_wood(void)
{
    picture p{128, 256, std::vector<unsigned char>(128 * 256 * 3)};
    value_noise n = make_noise(16);
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            double wave = 6 * sample(n, x / 16.0, y / 32.0) + 3 * sin(y * 0.03);
            double ring = 0.5 + 0.5 * sin((x + wave) * 0.45);
            double shade = 0.72 + 0.18 * ring + 0.1 * noise();
            if (ring > 0.93)
                shade -= 0.15;
            put(p, x, y, 160 * shade, 100 * shade, 52 * shade);
        }
    return p;
}

/* Wall: cream paint with a faint roller stipple. */
picture make_wall(void)
{
    picture p{256, 256, std::vector<unsigned char>(256 * 256 * 3)};
    value_noise n = make_noise(32);
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            double d = 10 * (sample(n, x / 8.0, y / 8.0) - 0.5) + 6 * (noise() - 0.5);
            put(p, x, y, 228 + d, 218 + d, 192 + d);
        }
    return p;
}

/* Carpet: burgundy with a small diamond motif and a woolly speckle. */
picture make_carpet(void)
{
    picture p{128, 128, std::vector<unsigned char>(128 * 128 * 3)};
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            int cx = x % 32 - 16, cy = y % 32 - 16;
            int diamond = abs(cx) + abs(cy);
            double wool = 0.85 + 0.3 * noise();
            if (diamond >= 9 && diamond <= 11)
                put(p, x, y, 190 * wool, 150 * wool, 70 * wool);
            else
                put(p, x, y, 125 * wool, 28 * wool, 42 * wool);
        }
    return p;
}

/* Ceiling: two by four acoustic tiles with dark joints and pin holes. */
picture make_ceiling(void)
{
    picture p{256, 512, std::vector<unsigned char>(256 * 512 * 3)};
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            double v = 236 + 8 * (noise() - 0.5);
            if (x % 128 < 3 || y % 128 < 3)
                v = 150;
            else if (noise() < 0.02)
                v = 190;
            put(p, x, y, v, v, v - 4);
        }
    return p;
}

void put_le(std::vector<unsigned char> &out, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out.push_back((unsigned char)(v >> (8 * i)));
}

/* 24-bit BMP: bottom row first, blue-green-red, rows padded to 4 bytes. */
int write_bmp(const std::string &path, const picture &p)
{
    int row = (p.w * 3 + 3) & ~3;
    uint32_t data = (uint32_t)row * p.h;
    std::vector<unsigned char> out;
    out.push_back('B');
    out.push_back('M');
    put_le(out, 54 + data, 4); /* file size */
    put_le(out, 0, 4);         /* reserved */
    put_le(out, 54, 4);        /* offset of the pixels */
    put_le(out, 40, 4);        /* info header size */
    put_le(out, p.w, 4);
    put_le(out, p.h, 4);
    put_le(out, 1, 2);         /* planes */
    put_le(out, 24, 2);        /* bits per pixel */
    put_le(out, 0, 4);         /* no compression */
    put_le(out, data, 4);
    put_le(out, 2835, 4);      /* 72 dpi, both ways */
    put_le(out, 2835, 4);
    put_le(out, 0, 4);         /* no palette */
    put_le(out, 0, 4);
    for (int y = p.h - 1; y >= 0; y--) {
        const unsigned char *src = &p.rgb[(size_t)y * p.w * 3];
        for (int x = 0; x < p.w; x++) {
            out.push_back(src[3 * x + 2]);
            out.push_back(src[3 * x + 1]);
            out.push_back(src[3 * x]);
        }
        for (int pad = p.w * 3; pad < row; pad++)
            out.push_back(0);
    }
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        perror(path.c_str());
        return -1;
    }
    size_t written = fwrite(out.data(), 1, out.size(), f);
    if (fclose(f) != 0 || written != out.size()) {
        perror(path.c_str());
        return -1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (argc != 2 || strcmp(argv[1], "--help") == 0) {
        fprintf(argc == 2 ? stdout : stderr,
                "Usage: hallsim_textures DIR\n"
                "Writes wood.bmp, wall.bmp, carpet.bmp and ceiling.bmp, the\n"
                "simulator's surface pictures, into DIR.\n");
        return argc == 2 ? 0 : 2;
    }
    std::string dir = argv[1];
    struct {
        const char *name;
        picture (*make)(void);
    } const files[] = {{"wood.bmp", make_wood},
                       {"wall.bmp", make_wall},
                       {"carpet.bmp", make_carpet},
                       {"ceiling.bmp", make_ceiling}};
    for (const auto &f : files)
        if (write_bmp(dir + "/" + f.name, f.make()) != 0)
            return 1;
    return 0;
}
