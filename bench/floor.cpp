// The process floor of a command: a static program that does nothing but
// write given bytes to standard output (the contents of FILE), or with no
// argument "hello, world" through stdio. What any program that prints the
// same listing must spend at least: start, exit and the writes.
//
//   tavrick_floor [FILE]
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    // The classic hello-world, through stdio.
    return std::fputs("hello, world\n", stdout) < 0 ? 1 : 0;
  }
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0) return 1;
  static char buf[1 << 14];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return n < 0 ? 1 : 0;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(1, buf + done, static_cast<std::size_t>(n - done));
      if (w <= 0) return 1;
      done += w;
    }
  }
}
