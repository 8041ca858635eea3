// The simulated scanner's CPU time, counted by the libusb wrappers of
// sim_cpu.cpp in this process.
#ifndef DRAVN_BENCH_SIM_CPU_H
#define DRAVN_BENCH_SIM_CPU_H

// Seconds of thread CPU time spent inside the simulation so far.
double SimCpuSeconds();
// Calls that reached it: 0 means the wrappers were passed by.
long long SimCalls();

#endif
