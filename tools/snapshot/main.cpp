// talvor-snapshot: draws the TALVOR editor for given parameter values and
// writes it as a PNG image.
//
//   talvor-snapshot [--set "NAME=VALUE"]... [--scale FACTOR] OUTPUT.png
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "graphics/IGraphics.h"
#include "plugin/TALVOR.h"
#include "tools/common/ToolArgs.h"

namespace {

using tool_args::Fail;

const char kUsage[] =
  "usage: talvor-snapshot [--set \"NAME=VALUE\"]... [--scale FACTOR] OUTPUT.png\n"
  "Draws the editor with the given parameter values (real values, e.g. \"Input=-3.5\",\n"
  "\"Low Gain=7\") and writes it as an RGB PNG image. --scale draws it at a display\n"
  "scale from 1 to 3 (default 1: 346 x 566 pixels; 2: 692 x 1132).\n";

struct PngOut
{
  FILE* file;
  png_structp png;
  png_infop info;
  std::vector<png_bytep>* rows;
};

void PngWriteError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWriteWarning(png_structp, png_const_charp) {}

// Plain data only in this frame, so a libpng error may unwind it with longjmp.
bool PngWriteSteps(PngOut* out, int w, int h)
{
  if (setjmp(png_jmpbuf(out->png))) return false;
  png_init_io(out->png, out->file);
  png_set_IHDR(out->png, out->info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(out->png, out->info);
  png_write_image(out->png, out->rows->data());
  png_write_end(out->png, nullptr);
  return true;
}

// Writes the visible colour of the bitmap (alpha plays no part on screen).
// The file appears under its name only once complete.
int WritePng(LICE_IBitmap* bmp, const std::string& path)
{
  const int w = bmp->getWidth(), h = bmp->getHeight(), span = bmp->getRowSpan();
  if (w <= 0 || h <= 0 || !bmp->getBits()) return Fail("the editor has no pixels to write");
  std::vector<unsigned char> rgb((size_t)w * h * 3);
  std::vector<png_bytep> rows((size_t)h);
  for (int y = 0; y < h; ++y)
  {
    const uint32_t* src = bmp->getBits() + (size_t)(bmp->isFlipped() ? h - 1 - y : y) * span;
    unsigned char* dst = &rgb[(size_t)y * w * 3];
    rows[(size_t)y] = dst;
    for (int x = 0; x < w; ++x)
    {
      dst[3 * x] = (unsigned char)(src[x] >> 16);
      dst[3 * x + 1] = (unsigned char)(src[x] >> 8);
      dst[3 * x + 2] = (unsigned char)src[x];
    }
  }

  const std::string temp = path + ".tmp-" + std::to_string((long)getpid());
  PngOut out = {};
  out.rows = &rows;
  out.file = std::fopen(temp.c_str(), "wb");
  if (!out.file) return Fail("cannot write \"%s\": %s", path.c_str(), std::strerror(errno));
  out.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngWriteError, PngWriteWarning);
  out.info = out.png ? png_create_info_struct(out.png) : nullptr;
  const bool ok = out.info && PngWriteSteps(&out, w, h);
  png_destroy_write_struct(&out.png, &out.info);
  const bool closed = std::fclose(out.file) == 0;
  if (!ok || !closed || std::rename(temp.c_str(), path.c_str()) != 0)
  {
    const int err = errno;
    std::remove(temp.c_str());
    return Fail("cannot write \"%s\"%s%s", path.c_str(), err ? ": " : "", err ? std::strerror(err) : "");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv)
{
  tool_args::SetToolName("talvor-snapshot");
  std::vector<std::string> sets;
  std::string output;
  double scale = 1.0;
  for (int i = 1; i < argc; ++i)
  {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h")
    {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--set")
    {
      if (i + 1 >= argc) return Fail("--set needs a value");
      sets.push_back(argv[++i]);
      continue;
    }
    if (arg == "--scale")
    {
      if (i + 1 >= argc) return Fail("--scale needs a value");
      if (!tool_args::ParseDouble(argv[++i], &scale) || !(scale >= kMinEditorScale && scale <= kMaxEditorScale))
        return Fail("--scale \"%s\" is not a factor from 1 to 3", argv[i]);
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return Fail("unknown option \"%s\" (try --help)", arg.c_str());
    if (!output.empty()) return Fail("too many file names: expected one OUTPUT.png");
    output = arg;
  }
  if (output.empty()) return Fail("no output file given (try --help)");

  TALVOR plug{IPlugInstanceInfo()};
  IGraphics* editor = plug.Editor();
  if (!editor) return Fail("the plug-in has no editor");
  for (const std::string& s : sets)
    if (int rc = tool_args::ApplySetting(plug, s)) return rc;

  // One block of silence runs the per-block preparation, so that linked values
  // (the output gain under "Link") reach the knobs as they would in a host.
  {
    IPlugLockGuard lock(&plug);
    std::vector<double> in(128, 0.0), out(128, 0.0);
    double* inputs[2] = {in.data(), in.data() + 64};
    double* outputs[2] = {out.data(), out.data() + 64};
    plug.ProcessBlock(inputs, outputs, 64);
  }

  if (!editor->SetScale(scale)) return Fail("the editor cannot be drawn at scale %g", scale);
  editor->Redraw(IRect(0, 0, editor->ScaledWidth(), editor->ScaledHeight()));
  LICE_IBitmap* bmp = editor->DrawBitmap();
  if (!bmp) return Fail("the editor has no draw bitmap");
  return WritePng(bmp, output);
}
