// Smoke tests for the Win64 cross build: the program runs as a 64-bit Windows
// process, the cross-built image libraries work, and windows with GDI drawing
// can be created on the test display.

#include <windows.h>

#include <png.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{

TEST(Win64Runtime, IsA64BitWindowsProcess)
{
  static_assert(sizeof(void*) == 8, "Win64 build expected");
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
  SYSTEM_INFO info{};
  GetNativeSystemInfo(&info);
  EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
}

TEST(Win64Runtime, ExceptionsAndThreadsWorkWithStaticRuntime)
{
  // Static libgcc/libstdc++ and winpthread must still unwind and start threads.
  bool caught = false;
  try
  {
    throw std::string("unwind");
  }
  catch (const std::string& s)
  {
    caught = (s == "unwind");
  }
  EXPECT_TRUE(caught);

  int value = 0;
  std::thread worker([&value] { value = 42; });
  worker.join();
  EXPECT_EQ(value, 42);
}

TEST(Win64Libraries, ZlibRoundTrip)
{
  std::vector<unsigned char> input(4096);
  for (size_t i = 0; i < input.size(); ++i)
    input[i] = static_cast<unsigned char>((i * 7) % 13);
  uLongf packedSize = compressBound(static_cast<uLong>(input.size()));
  std::vector<unsigned char> packed(packedSize);
  ASSERT_EQ(compress(packed.data(), &packedSize, input.data(), static_cast<uLong>(input.size())), Z_OK);
  EXPECT_LT(packedSize, input.size());

  std::vector<unsigned char> output(input.size());
  uLongf outSize = static_cast<uLongf>(output.size());
  ASSERT_EQ(uncompress(output.data(), &outSize, packed.data(), packedSize), Z_OK);
  EXPECT_EQ(outSize, input.size());
  EXPECT_EQ(output, input);
}

struct MemoryReader
{
  const std::vector<unsigned char>* data;
  size_t pos;
};

void WriteToVector(png_structp png, png_bytep bytes, png_size_t n)
{
  auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  out->insert(out->end(), bytes, bytes + n);
}

void FlushNothing(png_structp) {}

void ReadFromVector(png_structp png, png_bytep bytes, png_size_t n)
{
  auto* in = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (in->pos + n > in->data->size())
    png_error(png, "read past end");
  std::memcpy(bytes, in->data->data() + in->pos, n);
  in->pos += n;
}

TEST(Win64Libraries, PngEncodeDecodeFromMemory)
{
  const int w = 5, h = 3;
  std::vector<unsigned char> rgba(w * h * 4);
  for (size_t i = 0; i < rgba.size(); ++i)
    rgba[i] = static_cast<unsigned char>(i * 11);

  std::vector<unsigned char> file;
  {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    ASSERT_NE(png, nullptr);
    png_infop info = png_create_info_struct(png);
    ASSERT_NE(info, nullptr);
    if (setjmp(png_jmpbuf(png)))
    {
      png_destroy_write_struct(&png, &info);
      FAIL() << "libpng write error";
    }
    png_set_write_fn(png, &file, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y)
      png_write_row(png, rgba.data() + y * w * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
  }
  ASSERT_GT(file.size(), 8u);
  EXPECT_EQ(png_sig_cmp(file.data(), 0, 8), 0);

  std::vector<unsigned char> decoded(w * h * 4);
  {
    MemoryReader reader{&file, 0};
    // Set up before setjmp: a longjmp must not skip a destructor.
    std::vector<png_bytep> rows(h);
    for (int y = 0; y < h; ++y)
      rows[y] = decoded.data() + y * w * 4;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    ASSERT_NE(png, nullptr);
    png_infop info = png_create_info_struct(png);
    ASSERT_NE(info, nullptr);
    if (setjmp(png_jmpbuf(png)))
    {
      png_destroy_read_struct(&png, &info, nullptr);
      FAIL() << "libpng read error";
    }
    png_set_read_fn(png, &reader, ReadFromVector);
    png_read_info(png, info);
    ASSERT_EQ(png_get_image_width(png, info), static_cast<png_uint_32>(w));
    ASSERT_EQ(png_get_image_height(png, info), static_cast<png_uint_32>(h));
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
  }
  EXPECT_EQ(decoded, rgba);
}

TEST(Win64Display, WindowWithDibSectionDraws)
{
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = L"TalvorSmokeWindow";
  ATOM atom = RegisterClassW(&wc);
  ASSERT_NE(atom, 0) << "RegisterClass failed: " << GetLastError();

  HWND wnd = CreateWindowExW(0, wc.lpszClassName, L"smoke", WS_OVERLAPPEDWINDOW, 0, 0, 346, 566,
                             nullptr, nullptr, instance, nullptr);
  ASSERT_NE(wnd, nullptr) << "CreateWindow failed (no display?): " << GetLastError();

  HDC windowDC = GetDC(wnd);
  ASSERT_NE(windowDC, nullptr);
  HDC memDC = CreateCompatibleDC(windowDC);
  ASSERT_NE(memDC, nullptr);

  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = 16;
  bmi.bmiHeader.biHeight = -16;  // top-down rows
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(memDC, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  ASSERT_NE(bits, nullptr);
  HGDIOBJ old = SelectObject(memDC, dib);

  auto* pixels = static_cast<uint32_t*>(bits);
  for (int i = 0; i < 16 * 16; ++i)
    pixels[i] = 0xFF336699u;
  GdiFlush();
  EXPECT_EQ(GetPixel(memDC, 3, 4), RGB(0x33, 0x66, 0x99));
  EXPECT_TRUE(BitBlt(windowDC, 0, 0, 16, 16, memDC, 0, 0, SRCCOPY));

  SelectObject(memDC, old);
  DeleteObject(dib);
  DeleteDC(memDC);
  ReleaseDC(wnd, windowDC);
  EXPECT_TRUE(DestroyWindow(wnd));
  EXPECT_TRUE(UnregisterClassW(wc.lpszClassName, instance));
}

}  // namespace
