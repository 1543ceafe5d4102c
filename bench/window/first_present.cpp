// Preloaded into a program that shows its picture through SDL (LD_PRELOAD),
// this library passes every SDL_RenderPresent on to SDL and, when the first
// one has returned, prints the wall-clock time on standard error as
// "first present: <seconds>.<nanoseconds>". A script that noted the time
// just before it started the program then knows how long the first picture
// took, with no change to the program itself.
#include <dlfcn.h>

#include <cstdio>
#include <ctime>

struct SDL_Renderer;

extern "C" void SDL_RenderPresent(SDL_Renderer* renderer) {
    using Present = void (*)(SDL_Renderer*);
    static const auto real = reinterpret_cast<Present>(dlsym(RTLD_NEXT, "SDL_RenderPresent"));
    static bool reported = false;
    if (real) real(renderer);
    if (reported) return;
    reported = true;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::fprintf(stderr, "first present: %lld.%09ld\n", static_cast<long long>(now.tv_sec),
                 static_cast<long>(now.tv_nsec));
}
