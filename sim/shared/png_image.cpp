#include "png_image.h"

#include <errno.h>
#include <fcntl.h>
#include <png.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace kvn_sim {
namespace {

void append(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<char *>(data), length);
}

void no_flush(png_structp) {}

}  // namespace

bool encode_png(const Picture &picture, Area area, bool fast, std::string &out) {
    if (area.width < 0) area.width = picture.width - area.x;
    if (area.height < 0) area.height = picture.height - area.y;
    if (area.x < 0 || area.y < 0 || area.width <= 0 || area.height <= 0 ||
        area.x + area.width > picture.width || area.y + area.height > picture.height)
        return false;
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> row(static_cast<size_t>(area.width) * 3);
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_set_write_fn(png, &out, append, no_flush);
    if (fast) {
        // Screens are mostly flat colour: the neighbour's difference and
        // the quickest deflate keep a frame small at a fraction of the time.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
        png_set_compression_level(png, 1);
    }
    png_set_IHDR(png, info, area.width, area.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = area.y; y < area.y + area.height; ++y) {
        const uint32_t *from = &picture.pixels[static_cast<size_t>(y) * picture.width + area.x];
        for (int x = 0; x < area.width; ++x) {
            row[x * 3] = from[x] >> 16, row[x * 3 + 1] = from[x] >> 8, row[x * 3 + 2] = from[x];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool read_png_file(const std::string &path, long max_pixels, Picture &out, std::string &error) {
    // Never waiting on a FIFO or a device: only a regular file is a picture.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + (fd < 0 ? ": " + std::string(strerror(errno)) : ": not a regular file");
        if (fd >= 0) close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE *file = fdopen(fd, "rb");
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    bool ok = file != nullptr && png_image_begin_read_from_stdio(&image, file);
    if (ok && static_cast<long long>(image.width) * image.height > max_pixels) {
        png_image_free(&image);
        error = path + ": larger than any screen";
        fclose(file);
        return false;
    }
    if (!ok) {
        error = path + ": " + (file != nullptr ? image.message : strerror(errno));
        file != nullptr ? fclose(file) : close(fd);
        return false;
    }
    // Words 0xAARRGGBB lie in memory as B, G, R, A on the little-endian
    // processors the simulator is built for, as in DirectFB's ARGB surfaces.
    image.format = PNG_FORMAT_BGRA;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.assign(static_cast<size_t>(out.width) * out.height, 0);
    ok = png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr);
    if (!ok) error = path + ": " + image.message;
    png_image_free(&image);
    fclose(file);
    return ok;
}

}  // namespace kvn_sim
