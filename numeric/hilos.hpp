// Threads for the training: how many cores the process may use, counters that
// one thread raises and another waits on, and a crew of threads kept for the
// length of a training.
#pragma once

#include <atomic>
#include <cstdint>

// The cores this process may run on: its CPU affinity mask (so that taskset
// and cpusets count), and no more than a cgroup's CPU quota allows.
uint32_t nucleos_disponibles();

// A count that one thread raises and others wait on, and how many of those
// sleep in the kernel: raising it makes a system call only while one does.
// (The C++ library's notify makes one every time: a fifth of the time of a
// thread that hands on every sample of 784 inputs to 16 outputs.)
struct contador {
    std::atomic<uint32_t> valor{0};
    std::atomic<uint32_t> dormidos{0};
};

// Waits until c reaches at least valor, counting with wrap-around, and
// returns what it read: spinning for a few microseconds, then yielding the
// core now and then (the other thread may be waiting for it), and past two
// milliseconds asleep in the kernel, so that no waiting thread burns a core
// for long.
uint32_t espera_al_menos(contador& c, uint32_t valor);

// Raises c to valor, or by one, for espera_al_menos, everything written
// before it visible to whoever sees the new value.
void publica(contador& c, uint32_t valor);
void suma_uno(contador& c);

// hilos − 1 threads besides the caller, parked while there is no work.
struct cuadrilla;

// A crew for hilos threads in all, or none when the system gives no thread.
cuadrilla* forma_cuadrilla(uint32_t hilos);

// Runs tarea(contexto, i) for every i below the crew's thread count, i = 0 on
// the calling thread, and returns when all are done.
void trabaja(cuadrilla& c, void (*tarea)(void* contexto, uint32_t i), void* contexto);

// Ends the crew's threads and releases it; nullptr is allowed.
void disuelve(cuadrilla* c);
