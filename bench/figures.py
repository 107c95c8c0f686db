# The statistics and the machine notes that the benchmarks print, written once for all of them.
import os
import statistics


def summary(values, digits=1):
    """Median, min-max and interquartile range of the values, as one phrase."""
    values = sorted(values)
    quartiles = statistics.quantiles(values, n=4, method="inclusive") if values[1:] else values * 3
    q1, q3 = quartiles[0], quartiles[2]
    return "median {1:.{0}f}, min-max {2:.{0}f}-{3:.{0}f}, IQR {4:.{0}f}-{5:.{0}f}".format(
        digits, statistics.median(values), values[0], values[-1], q1, q3)


def median_interval(values):
    """Distribution-free 95 % confidence interval of the median: the order statistics whose
    ranks lie 1.96 standard deviations of a binomial(n, 1/2) either side of the middle."""
    values, middle = sorted(values), len(values) / 2
    half_width = 1.96 * len(values) ** 0.5 / 2
    return (values[max(0, int(middle - half_width))],
            values[min(len(values) - 1, int(middle + half_width + 1) - 1)])


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def machine():
    """The cores, the CPU model and the load average now, for a benchmark's first line."""
    with open("/proc/cpuinfo") as f:
        model = next((line.split(":", 1)[1].strip() for line in f
                      if line.startswith("model name")), "unknown CPU")
    return f"{os.cpu_count()} cores, {model}; load average at start {load()}"
