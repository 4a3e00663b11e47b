// The copy limit: for every manifest entry, read the preview's bytes from
// the RAW file and write them to a new file. No parsing at all: the least
// any extractor has to do.
//   copy_limit MANIFEST OUT_DIR
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::ifstream manifest(argv[1]);
  std::string line, out = argv[2];
  std::vector<char> buffer;
  int n = 0;
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    std::string path;
    std::size_t offset = 0, length = 0;
    if (!(fields >> path >> offset >> length)) continue;
    buffer.resize(length);
    int in = open(path.c_str(), O_RDONLY);
    if (in < 0 || pread(in, buffer.data(), length, static_cast<off_t>(offset)) != static_cast<ssize_t>(length)) return 1;
    close(in);
    std::string target = out + "/copy_" + std::to_string(n++) + ".jpg";
    int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0 || write(fd, buffer.data(), length) != static_cast<ssize_t>(length)) return 1;
    close(fd);
  }
  return 0;
}
