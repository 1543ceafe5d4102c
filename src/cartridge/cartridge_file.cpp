#include "cartridge/cartridge_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "computer/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string Cartridge_save_path(const Cartridge* cartridge) {
    if (cartridge->save_path) return cartridge->save_path;
    if (!cartridge->path) return {};
    return std::string(cartridge->path) + ".sav";
}

namespace {

// Only regular files count as ROM images and save files: a directory or a
// device is treated as a file that cannot be opened. The open does not wait,
// so a named pipe cannot hold up the start until something writes to it. On
// failure `problem` tells why; errno stays ENOENT for a missing file.
FILE* open_regular_file(const char* path, const char** problem) {
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *problem = std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *problem = "not a regular file";
        errno = EINVAL;
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        *problem = std::strerror(errno);
        ::close(fd);
    }
    return file;
}

// At most `limit` bytes from the start of the file.
std::vector<uint8_t> read_image(FILE* file, uint64_t limit) {
    uint64_t length = limit;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long end = std::ftell(file);
        if (end >= 0 && static_cast<uint64_t>(end) < limit) length = static_cast<uint64_t>(end);
    }
    std::fseek(file, 0, SEEK_SET);
    std::vector<uint8_t> image(length);
    image.resize(std::fread(image.data(), 1, length, file));
    return image;
}

// A run killed in the middle of a save write leaves its temporary file
// ("<save>.tmp-XXXXXX") behind; the save itself is whole. The next start
// clears such leftovers so they do not pile up beside the ROM.
void remove_stale_temp_files(const std::string& save_path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path save(save_path);
    const std::string prefix = save.filename().string() + ".tmp-";
    const fs::path folder = save.has_parent_path() ? save.parent_path() : fs::path(".");
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            it->is_regular_file(error))
            fs::remove(it->path(), error);
    }
}

void load_save(Cartridge* cartridge) {
    std::string save_path = Cartridge_save_path(cartridge);
    if (save_path.empty() || !cartridge->save) return;
    remove_stale_temp_files(save_path);
    uint8_t* save = cartridge->save;
    // A missing save file is the first run of a ROM. One that is there but
    // cannot be read (no permission, a directory, a device) leaves the save
    // RAM zero and is kept as it is: writing this run's save RAM over it would
    // lose data the player never saw.
    const char* problem = nullptr;
    FILE* file = open_regular_file(save_path.c_str(), &problem);
    if (!file) {
        if (errno == ENOENT) return;
        cartridge->keep_save_file = true;
        std::fprintf(stderr, "Could not read save %s: %s; it is left as it is\n", save_path.c_str(), problem);
        return;
    }
    std::size_t got = std::fread(save, 1, SAVE_SIZE, file);
    if (got < SAVE_SIZE) std::memset(save + got, 0, SAVE_SIZE - got);
    std::fclose(file);
}

mode_t current_umask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

bool write_all(int fd, const uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

void Cartridge_load(Cartridge* cartridge, const char* path, const char* save_path) {
    cartridge->image = nullptr;
    cartridge->image_size = 0;
    cartridge->save = nullptr;
    cartridge->save_size = 0;
    cartridge->save_changes = 0;
    cartridge->keep_save_file = false;
    cartridge->path = path;
    cartridge->save_path = save_path;
    cartridge->bank = 1;

    const char* problem = nullptr;
    FILE* file = open_regular_file(path, &problem);
    if (!file) {
        Log_line("File could not be opened: %s\n", path);
        return;
    }
    std::vector<uint8_t> image = read_image(file, ROM_MAX_SIZE);
    std::fclose(file);
    if (!Cartridge_init_image(cartridge, image)) return;
    load_save(cartridge);
}

bool Cartridge_write_save(const Cartridge* cartridge) {
    std::string error;
    if (Cartridge_store_save(cartridge, &error)) return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

bool File_replace(const std::string& path, std::span<const uint8_t> bytes, std::string* reason) {
    std::string temp_path = path + ".tmp-XXXXXX";
    int fd = mkstemp(temp_path.data());
    const char* failed_step = nullptr;
    int error_number = 0;
    if (fd < 0) {
        failed_step = "cannot create a file beside it";
        error_number = errno;
    } else {
        if (!write_all(fd, bytes.data(), bytes.size())) {
            failed_step = "cannot write";
        } else if (fsync(fd) != 0) {
            failed_step = "cannot flush";
        }
        error_number = errno;
        // mkstemp makes the file private; these are ordinary files.
        fchmod(fd, 0666 & ~current_umask());
        if (::close(fd) != 0 && !failed_step) {
            failed_step = "cannot write";
            error_number = errno;
        }
        if (!failed_step && std::rename(temp_path.c_str(), path.c_str()) != 0) {
            failed_step = "cannot replace";
            error_number = errno;
        }
        if (failed_step) ::unlink(temp_path.c_str());
    }
    if (failed_step) {
        *reason = std::string(failed_step) + " (" + std::strerror(error_number) + ")";
        return false;
    }
    return true;
}

bool File_read(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes, std::string* reason) {
    const char* problem = nullptr;
    FILE* file = open_regular_file(path.c_str(), &problem);
    if (!file) {
        *reason = problem;
        return false;
    }
    *bytes = read_image(file, limit);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) *reason = "cannot read";
    return !failed;
}

bool Cartridge_store_save(const Cartridge* cartridge, std::string* error) {
    std::string save_path = Cartridge_save_path(cartridge);
    if (!cartridge->save || save_path.empty()) return true;
    if (cartridge->keep_save_file) {
        *error = "Could not write save " + save_path + ": it could not be read at start and is left as it is";
        return false;
    }
    std::string reason;
    if (File_replace(save_path, {cartridge->save, cartridge->save_size}, &reason)) return true;
    *error = "Could not write save " + save_path + ": " + reason;
    return false;
}

void Cartridge_free(Cartridge* cartridge) {
    std::string save_path = Cartridge_save_path(cartridge);
    if (cartridge->save && !save_path.empty()) {
        Log_line("Writing save to %s\n", save_path.c_str());
        std::fflush(stdout);
        Cartridge_write_save(cartridge);
    }
    Cartridge_free_image(cartridge);
    cartridge->path = nullptr;
    cartridge->save_path = nullptr;
}
