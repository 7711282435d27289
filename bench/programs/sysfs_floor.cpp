// sysfs_floor LIST: the least a scan can do with the kernel's files: list
// the folders, read the attributes and follow the links that LIST names, a
// line each ("D path", "F path", "L path"), and nothing else. scripts/bench
// records LIST from a real scan, so the floor reads exactly what it read.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sysfs_floor LIST\n");
    return 2;
  }
  FILE* list = std::fopen(argv[1], "r");
  if (list == nullptr) {
    std::perror(argv[1]);
    return 2;
  }
  std::vector<std::string> lines;
  char line[4096];
  while (std::fgets(line, sizeof line, list) != nullptr) {
    size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    if (n > 2 && line[1] == ' ') lines.emplace_back(line, n);
  }
  std::fclose(list);

  size_t bytes = 0, done = 0;
  char buffer[4096];
  for (const std::string& entry : lines) {
    const char* path = entry.c_str() + 2;
    switch (entry[0]) {
      case 'D':
        if (DIR* dir = opendir(path)) {
          while (readdir(dir) != nullptr) ++bytes;
          closedir(dir);
          ++done;
        }
        break;
      case 'F': {
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) break;
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) bytes += got;
        close(fd);
        ++done;
        break;
      }
      case 'L':
        if (readlink(path, buffer, sizeof buffer) >= 0) ++done;
        break;
      default:
        break;
    }
  }
  std::printf("%zu of %zu read, %zu bytes\n", done, lines.size(), bytes);
  return 0;
}
