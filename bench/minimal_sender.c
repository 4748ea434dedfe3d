/* The floor of a paced stream: what the least a sender must do costs, for comparison with
 * Tarnel under the same load (stream_bench --minimal-sender). It logs in to the sink like Tarnel
 * (the password line, the reply, an empty header block), then forever: sleeps until the wall
 * clock's next tick in one absolute sleep, reads the second's bytes from the media files with one
 * pread into a buffer made once, and sends them. No NSV parsing, no log, no status.
 *
 *     minimal_sender PORT BYTES_PER_SECOND FILE...
 *
 * PORT is the sink's source port (Tarnel's base port + 1). The files are read one after another
 * and again from the first, BYTES_PER_SECOND at a time. */

#define _GNU_SOURCE
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int send_all(int socket_fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t sent = send(socket_fd, data, length, MSG_NOSIGNAL);
        if (sent <= 0) {
            return -1;
        }
        data += sent;
        length -= (size_t)sent;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: minimal_sender PORT BYTES_PER_SECOND FILE...\n");
        return 2;
    }
    const int port = atoi(argv[1]);
    const size_t per_second = (size_t)atol(argv[2]);
    char* const buffer = malloc(per_second);
    const int socket_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (buffer == NULL || socket_fd == -1 ||
        connect(socket_fd, (const struct sockaddr*)&address, sizeof address) != 0) {
        perror("minimal_sender");
        return 1;
    }
    char reply[256];
    if (send_all(socket_fd, "swapthis\r\n", 10) != 0 ||
        recv(socket_fd, reply, sizeof reply, 0) <= 0 ||
        send_all(socket_fd, "icy-reset:1\r\n\r\n", 15) != 0) {
        fprintf(stderr, "minimal_sender: the log-in failed\n");
        return 1;
    }
    int file_index = 3;
    int file_fd = -1;
    off_t offset = 0;
    for (;;) {
        size_t filled = 0;
        while (filled < per_second) {
            if (file_fd == -1) {
                file_fd = open(argv[file_index], O_RDONLY | O_CLOEXEC);
                offset = 0;
                if (file_fd == -1) {
                    perror(argv[file_index]);
                    return 1;
                }
            }
            const ssize_t got = pread(file_fd, buffer + filled, per_second - filled, offset);
            if (got > 0) {
                filled += (size_t)got;
                offset += got;
            } else {
                close(file_fd);
                file_fd = -1;
                file_index = file_index + 1 < argc ? file_index + 1 : 3;
            }
        }
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        const struct timespec tick = {now.tv_sec + 1, 0};
        while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &tick, NULL) != 0) {
        }
        if (send_all(socket_fd, buffer, per_second) != 0) {
            return 0;
        }
    }
}
