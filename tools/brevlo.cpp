// brevlo: converts a GIF file into an 8-bit BMP file from the command line.
#include <brevlo.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct ResultText {
  int code;
  const char* name;
  const char* meaning;
};

constexpr ResultText kResults[] = {
    {ERR_OPEN_FAILED, "ERR_OPEN_FAILED",
     "the input cannot be opened or the output cannot be written"},
    {ERR_NO_MEMORY, "ERR_NO_MEMORY", "not enough memory to decode the image"},
    {ERR_BAD_GIF, "ERR_BAD_GIF", "not a GIF file, no image, or corrupt image data"},
    {ERR_UNSUPPORTED, "ERR_UNSUPPORTED",
     "unsupported GIF: it needs a 256-colour global table and a non-interlaced image"},
    {ERR_EMPTY_NAME, "ERR_EMPTY_NAME", "a file name is empty"},
    {ERR_EARLY_END, "ERR_EARLY_END", "the file ended before the GIF trailer"},
};

const ResultText* describe(int code) {
  for (const ResultText& text : kResults)
    if (text.code == code) return &text;
  return nullptr;
}

void print_usage(std::FILE* to) {
  std::fputs(
      "usage: brevlo IN.gif OUT.bmp   convert a GIF into an 8-bit BMP\n"
      "       brevlo --info           show the library's information text\n"
      "       brevlo --help           show this help\n",
      to);
}

int print_info() {
  int32_t length = BREVLOInfo(nullptr, 0);
  std::string text(static_cast<std::size_t>(length), ' ');
  if (BREVLOInfo(text.data(), length) != 0) return 1;
  std::printf("%s\n", text.c_str());
  return 0;
}

int convert(const char* gif_path, const char* bmp_path) {
  int32_t result = BREVLO32(gif_path, bmp_path);
  if (result == BREVLO_SUCCESS) return 0;
  const ResultText* text = describe(result);
  std::fprintf(stderr, "brevlo: %s: %s (%d %s)\n", gif_path, text ? text->meaning : "failed",
               static_cast<int>(result), text ? text->name : "unknown");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--info") == 0) return print_info();
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    print_usage(stdout);
    return 0;
  }
  if (argc != 3) {
    print_usage(stderr);
    return 2;
  }
  return convert(argv[1], argv[2]);
}
