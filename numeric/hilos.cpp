#include "numeric/hilos.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// The CPU quota of cgroup v2 folder carpeta and of every folder above it,
// in whole cores (at least one), or UINT32_MAX where none is set.
static uint32_t cuota_cgroup(std::string carpeta) {
    uint32_t nucleos = UINT32_MAX;
    for (;;) {
        if (FILE* f = std::fopen(("/sys/fs/cgroup" + carpeta + "/cpu.max").c_str(), "r")) {
            char cuota[32];
            unsigned long long periodo = 0;
            if (std::fscanf(f, "%31s %llu", cuota, &periodo) == 2 && periodo > 0 &&
                std::strcmp(cuota, "max") != 0) {
                const unsigned long long enteros = std::strtoull(cuota, nullptr, 10) / periodo;
                nucleos = std::min<unsigned long long>({nucleos, std::max(enteros, 1ull)});
            }
            std::fclose(f);
        }
        if (carpeta.empty() || carpeta == "/") return nucleos;
        carpeta.erase(carpeta.rfind('/'));
    }
}

uint32_t nucleos_disponibles() {
    uint32_t nucleos = std::max(std::thread::hardware_concurrency(), 1u);
    cpu_set_t conjunto;
    if (sched_getaffinity(0, sizeof conjunto, &conjunto) == 0)
        nucleos = static_cast<uint32_t>(std::max(CPU_COUNT(&conjunto), 1));
    // The process's cgroup v2 folder is the line "0::/folder".
    if (FILE* f = std::fopen("/proc/self/cgroup", "r")) {
        char linea[512];
        while (std::fgets(linea, sizeof linea, f))
            if (std::strncmp(linea, "0::", 3) == 0) {
                std::string carpeta = linea + 3;
                carpeta.erase(carpeta.find_last_not_of('\n') + 1);
                nucleos = std::min(nucleos, cuota_cgroup(carpeta));
            }
        std::fclose(f);
    }
    return nucleos;
}

static bool alcanza(uint32_t valor, uint32_t objetivo) {
    return static_cast<int32_t>(valor - objetivo) >= 0;
}

// A hint to the core that this is a spin, which frees the bus and a sibling
// hyperthread meanwhile.
static inline void pausa() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    __asm__ volatile("yield");
#endif
}

uint32_t espera_al_menos(contador& c, uint32_t valor) {
    uint32_t visto = c.valor.load(std::memory_order_acquire);
    if (alcanza(visto, valor)) return visto;
    // A thread that is a moment behind comes within microseconds: spin. One
    // that is further behind, or has lost its core for a while, is waited
    // for by giving the core away every few looks (to it, if it waits for
    // this core). Only past a couple of milliseconds does the wait go to the
    // kernel: waking a thread that sleeps there can take longer than the
    // work of many samples, and while it wakes the other waits in turn.
    const auto inicio = std::chrono::steady_clock::now();
    for (uint32_t vuelta = 1;; ++vuelta) {
        if (vuelta % 64 == 0) {
            const auto espera = std::chrono::steady_clock::now() - inicio;
            if (espera > std::chrono::milliseconds(2)) break;
            if (espera > std::chrono::microseconds(20)) std::this_thread::yield();
        }
        pausa();
        visto = c.valor.load(std::memory_order_acquire);
        if (alcanza(visto, valor)) return visto;
    }
    // Counted among the sleepers before the last look: either the thread
    // that raises the count sees this one counted and wakes it, or this
    // look sees the new count (every access here and in avisa is in one
    // total order).
    c.dormidos.fetch_add(1);
    visto = c.valor.load();
    while (!alcanza(visto, valor)) {
        c.valor.wait(visto);
        visto = c.valor.load();
    }
    c.dormidos.fetch_sub(1);
    return visto;
}

// Wakes the threads asleep on c, if there are any.
static void avisa(contador& c) {
    if (c.dormidos.load() > 0) c.valor.notify_all();
}

void publica(contador& c, uint32_t valor) {
    c.valor.store(valor);
    avisa(c);
}

void suma_uno(contador& c) {
    c.valor.fetch_add(1);
    avisa(c);
}

struct cuadrilla {
    uint32_t hilos = 1;
    std::vector<std::thread> trabajadores;
    // The work in hand, and whether the threads are to end instead.
    void (*tarea)(void*, uint32_t) = nullptr;
    void* contexto = nullptr;
    bool fin = false;
    // Works given so far, and tasks finished over all of them: each on a
    // cache line of its own, since each is written by different threads.
    alignas(64) contador ordenes;
    alignas(64) contador hechas;
};

static void trabajador(cuadrilla* c, uint32_t i) {
    pthread_setname_np(pthread_self(), "sanger-parte");  // as top -H and /proc show it
    for (uint32_t orden = 1;; ++orden) {
        espera_al_menos(c->ordenes, orden);
        if (c->fin) return;
        c->tarea(c->contexto, i);
        suma_uno(c->hechas);
    }
}

cuadrilla* forma_cuadrilla(uint32_t hilos) {
    cuadrilla* c = new cuadrilla;
    try {
        c->trabajadores.reserve(hilos - 1);
        for (uint32_t i = 1; i < hilos; ++i) c->trabajadores.emplace_back(trabajador, c, i);
    } catch (const std::system_error&) {
        disuelve(c);
        return nullptr;
    }
    c->hilos = hilos;
    return c;
}

void trabaja(cuadrilla& c, void (*tarea)(void*, uint32_t), void* contexto) {
    c.tarea = tarea;
    c.contexto = contexto;
    const uint32_t orden = c.ordenes.valor.load(std::memory_order_relaxed) + 1;
    publica(c.ordenes, orden);
    tarea(contexto, 0);
    espera_al_menos(c.hechas, orden * (c.hilos - 1));
}

void disuelve(cuadrilla* c) {
    if (c == nullptr) return;
    c->fin = true;
    publica(c->ordenes, c->ordenes.valor.load(std::memory_order_relaxed) + 1);
    for (std::thread& t : c->trabajadores) t.join();
    delete c;
}
