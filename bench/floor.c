/* The benchmark's floor: lists the USB serial ports under the sysfs root
 * ($PORTSIFT_SYSFS or /sys) in portsift's full-listing lines with the fewest
 * system calls we know: one readlinkat per tty, whose target names the
 * interface and the device; the device's uevent (VID, PID, class) and its
 * serial file; bNumInterfaces only for a device not of the communications
 * class. No guards against hostile trees, no registry, no duplicates. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int root;

static ssize_t slurp(const char *dev, const char *attr, char *buf, size_t size) {
    char path[512];
    snprintf(path, sizeof path, "bus/usb/devices/%s/%s", dev, attr);
    int fd = openat(root, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    ssize_t got = read(fd, buf, size - 1);
    close(fd);
    if (got < 0) return -1;
    while (got > 0 && (buf[got - 1] == '\n' || buf[got - 1] == 0)) --got;
    buf[got] = 0;
    return got;
}

static int by_text(const void *a, const void *b) { return strcmp(*(char *const *)a, *(char *const *)b); }

int main(void) {
    const char *sys = getenv("PORTSIFT_SYSFS");
    root = open(sys && *sys ? sys : "/sys", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int ttys = openat(root, "class/tty", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0 || ttys < 0) return 0;
    DIR *dir = fdopendir(ttys);
    char **lines = NULL;
    size_t count = 0, capacity = 0;
    struct dirent *entry;
    while ((entry = readdir(dir))) {
        char target[1024];
        ssize_t n = readlinkat(ttys, entry->d_name, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = 0;
        /* .../DEV/DEV:C.I/tty/ttyACMn or .../DEV/DEV:C.I/ttyUSBn/tty/ttyUSBn */
        char *parts[64];
        int depth = 0;
        for (char *p = strtok(target, "/"); p && depth < 64; p = strtok(NULL, "/")) parts[depth++] = p;
        if (depth < 4 || strcmp(parts[depth - 2], "tty")) continue;
        int at = strchr(parts[depth - 3], ':') ? depth - 3 : depth - 4;
        char *iface = parts[at], *colon = strchr(iface, ':'), *dot = colon ? strchr(colon, '.') : NULL;
        if (!dot) continue;
        *colon = 0;
        char uevent[1024], serial[256], count_text[16];
        if (slurp(iface, "uevent", uevent, sizeof uevent) < 0) continue;
        char *product = strstr(uevent, "PRODUCT="), *type = strstr(uevent, "\nTYPE=");
        if (!product || !type) continue;
        unsigned vid = 0, pid = 0, cls = 0;
        sscanf(product, "PRODUCT=%x/%x", &vid, &pid);
        sscanf(type, "\nTYPE=%u", &cls);
        int single = cls == 2 || (slurp(iface, "bNumInterfaces", count_text, sizeof count_text) > 0 &&
                                  atoi(count_text) == 1);
        if (slurp(iface, "serial", serial, sizeof serial) <= 0) strcpy(serial, iface);
        char line[2048];
        if (single)
            snprintf(line, sizeof line, "%04X %04X %s /dev/%s\n", vid, pid, serial, entry->d_name);
        else
            snprintf(line, sizeof line, "%04X %04X&MI_%02X %s /dev/%s\n", vid, pid, atoi(dot + 1), serial,
                     entry->d_name);
        if (count == capacity) lines = realloc(lines, (capacity = capacity ? 2 * capacity : 64) * sizeof *lines);
        lines[count++] = strdup(line);
    }
    qsort(lines, count, sizeof *lines, by_text);
    for (size_t i = 0; i < count; ++i) fputs(lines[i], stdout);
    return 0;
}
