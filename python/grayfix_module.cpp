// grayfix_module.cpp - the Python module grayfix: the tool's readers, writer,
// statistics and transforms on images made from NumPy arrays, with every
// refusal raised as grayfix.Error instead of ending the process.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <stdio.h>  // open_memstream

#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "driver/console.h"       // SetStopHandler, SendReportsTo, exit statuses
#include "driver/driver.h"        // ApplyInputSwitch, ApplyTransformSwitch
#include "image/image.h"          // the image store
#include "image/pgm.h"            // ReadPgmHeader
#include "image/rawio.h"          // ReadRaw, WriteImage, the pixel buffers
#include "image/stats.h"          // PrintImgStats and its results
#include "transforms/wgnoise.h"   // ImgFixWGNoiseSeed

namespace py = pybind11;

namespace {

// ---- Refusals -----------------------------------------------------------------

// Module objects, kept for the life of the process (never released after the
// interpreter has gone).
py::handle ErrorType;  // grayfix.Error, a ValueError with .status

// Text the core made (it may hold file names in any encoding) as a str.
py::str CoreText(const std::string& text)
{
    return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeFSDefaultAndSize(text.data(), (Py_ssize_t)text.size()));
}

[[noreturn]] void RaiseError(const std::string& message, int status)
{
    py::object error = ErrorType(CoreText(message));
    error.attr("status") = status;
    PyErr_SetObject(ErrorType.ptr(), error.ptr());
    throw py::error_already_set();
}

// ---- Images -------------------------------------------------------------------

struct FreeBlock {
    void operator()(unsigned char* p) const { ReleasePixelBuffer(p); }
};
using Pixels = std::unique_ptr<unsigned char, FreeBlock>;

// One image: the tool's description and its pixel bytes exactly as the tool
// holds them (two-byte samples in the order bigEndian gives). Never changed
// once made; every operation returns a new one.
struct Image {
    int width = 0, height = 0, depth = 0, maxval = 0, bytesPerPixel = 0;
    bool bigEndian = true;
    Pixels pixels;
    std::string message;  // the transform's report that made it, if any

    std::size_t Size() const
    {
        return (std::size_t)width * (std::size_t)height * (std::size_t)bytesPerPixel;
    }
};

// A pixel buffer as the tool's reader makes it (never of 0 bytes, which
// malloc may answer with null).
unsigned char* AllocatePixels(std::size_t bytes)
{
    void* block = AllocatePixelBuffer(bytes == 0 ? 1 : bytes);
    if (block == nullptr) throw std::bad_alloc();
    return (unsigned char*)block;
}

// ---- The image store ------------------------------------------------------------

// The core keeps one image in globals, so calls take turns. Each call releases
// the GIL first and then waits here: a thread that holds the store never waits
// for the GIL while another holds the GIL and waits for the store.
std::mutex StoreLock;
bool StoreOwnsData = false;  // ImgData is ours to free (else it borrows an Image's)

// The description as a fresh run of the tool starts it, and no pixels.
void ClearStore()
{
    if (StoreOwnsData) ReleasePixelBuffer(ImgData);
    StoreOwnsData = false;
    ImgData = nullptr;
    ImgFileName = "";
    ImgImageWidth = ImgImageHeight = ImgBYTEpp = Imgbpp = ImgLevelMax = 0;
    ImgBigEndian = 1;
    ImgRaw = 0;
    ImgRawSkip = 0;
    ImgUseDeviceSeed();
}

// Puts image in the store, its pixels copied (for a transform, which rewrites
// them) or borrowed (for reading them only).
void LoadStore(const Image& image, bool copy)
{
    ClearStore();
    ImgImageWidth = image.width;
    ImgImageHeight = image.height;
    ImgUseDepth(image.depth, image.maxval, image.bytesPerPixel);
    ImgBigEndian = image.bigEndian ? 1 : 0;
    if (copy) {
        ImgData = AllocatePixels(image.Size());
        std::memcpy(ImgData, image.pixels.get(), image.Size());
        StoreOwnsData = true;
    } else {
        ImgData = image.pixels.get();
    }
}

// The image in the store, which gives up its pixels to it.
Image TakeStore(std::size_t allocated)
{
    Image image;
    image.width = ImgImageWidth;
    image.height = ImgImageHeight;
    image.depth = Imgbpp;
    image.maxval = ImgLevelMax;
    image.bytesPerPixel = ImgBYTEpp;
    image.bigEndian = ImgBigEndian != 0;
    unsigned char* data = ImgData;
    CHECK(!IsMappedPixelBuffer(data));  // the module reads every image into memory
    // The store packs a smaller image in place and never shrinks the buffer;
    // the image keeps only what it uses.
    if (image.Size() < allocated) {
        if (auto* smaller = (unsigned char*)std::realloc(data, image.Size())) data = smaller;
    }
    image.pixels.reset(data);
    ImgData = nullptr;
    StoreOwnsData = false;
    return image;
}

// How a call into the core ended.
struct Outcome {
    bool stopped = false;
    int status = 0;
    std::string message;
    std::string reports;  // what the core printed
};

// Runs work on the store with the GIL released and the store held, the core's
// reports captured and its refusals caught. The store is left empty whatever
// happens, so a refusal leaves nothing behind.
template <typename Work>
Outcome RunInStore(Work work)
{
    Outcome outcome;
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> held(StoreLock);
    char* text = nullptr;
    std::size_t size = 0;
    FILE* reports = open_memstream(&text, &size);
    if (reports == nullptr) throw std::bad_alloc();
    SendReportsTo(reports);
    auto finish = [&] {
        SendReportsTo(stdout);
        std::fclose(reports);
        outcome.reports.assign(text, size);
        std::free(text);
        ClearStore();
    };
    try {
        work();
    } catch (const GrayfixStop& stop) {  // a refusal, unwound to the call that caused it
        outcome.stopped = true;
        outcome.status = stop.status;
        // A check's text is its condition.
        outcome.message = stop.status == ExitCheckFailed ? "check failed: " + stop.text : stop.text;
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return outcome;
}

void RaiseIfStopped(const Outcome& outcome)
{
    if (outcome.stopped) RaiseError(outcome.message, outcome.status);
}

// The core starts each report with its line end; the text is kept without it.
std::string Report(const std::string& reports)
{
    return !reports.empty() && reports[0] == '\n' ? reports.substr(1) : reports;
}

// ---- Arguments ----------------------------------------------------------------

// An integer field as the command line would spell it. Any integer (NumPy's
// too) is taken whole, so one outside the tool's range is refused as the tool
// refuses it; anything else is a TypeError.
std::string IntField(py::handle value)
{
    if (PyFloat_Check(value.ptr()))
        throw py::type_error("grayfix: an integer is required, not a float");
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    return py::str(index).cast<std::string>();
}

// An integer argument's value; beyond the long long range it saturates, which
// every range test then refuses.
long long IntValue(py::handle value)
{
    return std::strtoll(IntField(value).c_str(), nullptr, 10);
}

// A real field (the deviation), spelt so that the tool reads back the same double.
std::string RealField(py::handle value)
{
    double real = PyFloat_AsDouble(value.ptr());
    if (real == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", real);
    return text;
}

// A path (str, bytes or os.PathLike) as the bytes the file system sees.
std::string PathField(py::handle path)
{
    std::string bytes = py::module_::import("os").attr("fsencode")(path).cast<std::string>();
    if (bytes.find('\0') != std::string::npos) throw py::value_error("grayfix: embedded null byte");
    return bytes;
}

// ---- Operations ---------------------------------------------------------------

Image Transform(const Image& image, const std::string& switchText, std::optional<unsigned long> seed)
{
    Image result;
    Outcome outcome = RunInStore([&] {
        LoadStore(image, true);
        if (seed) ImgFixWGNoiseSeed(*seed);
        ApplyTransformSwitch(switchText.c_str());
        result = TakeStore(image.Size());
    });
    RaiseIfStopped(outcome);
    result.message = Report(outcome.reports);
    return result;
}

std::optional<unsigned long> SeedField(py::handle seed)
{
    if (seed.is_none()) return std::nullopt;
    std::string digits = IntField(seed);
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
    if (digits[0] == '-' || errno == ERANGE || value > ULONG_MAX)
        throw py::value_error("grayfix: seed must be an integer from 0 to 2**64 - 1, not " + digits);
    return (unsigned long)value;
}

// Builds "-t:name:field:field..." from the fields.
std::string Switch(const char* name, std::initializer_list<std::string> fields)
{
    std::string text = std::string("-t:") + name;
    for (const std::string& field : fields) text += ":" + field;
    return text;
}

Image ReadImage(const std::string& path, const std::vector<std::string>& switches)
{
    Image result;
    Outcome outcome = RunInStore([&] {
        ClearStore();
        for (const std::string& s : switches) ApplyInputSwitch(s.c_str());
        ImgFileName = path.c_str();
        if (ImgRaw == 0) ReadPgmHeader(ImgFileName);
        ImgData = ReadRaw(ImgFileName, ImgRawSkip, ImgImageWidth, ImgImageHeight, ImgBYTEpp);
        StoreOwnsData = true;
        // The tool's first statistics refuse a sample above the maximum; the
        // same pass runs here only when a sample is above it.
        if (!ImgSamplesInRange()) PrintImgStats();
        result = TakeStore(0);
    });
    RaiseIfStopped(outcome);
    return result;
}

void WriteImageFile(const Image& image, const std::string& path, bool raw)
{
    if (path == "-") py::module_::import("sys").attr("stdout").attr("flush")();
    Outcome outcome = RunInStore([&] {
        LoadStore(image, false);
        ImgFileName = path.c_str();
        WriteImage(ImgFileName, ImgData, raw ? 1 : 0, ImgImageWidth, ImgImageHeight, ImgBYTEpp);
        if (path == "-") std::fflush(stdout);
    });
    RaiseIfStopped(outcome);
}

py::handle StatsType;  // grayfix.Stats

py::object ImageStats(const Image& image)
{
    int minimum = 0, maximum = 0, levels = 0, bits = 0;
    double h0 = 0, bpp = 0;
    uint32_t bigEndianCrc = 0, byteCrc = 0;
    Outcome outcome = RunInStore([&] {
        LoadStore(image, false);
        PrintImgStats();
        minimum = minLevel;
        maximum = maxLevel;
        levels = numLevels;
        bits = bitsUsed;
        h0 = H0;
        bpp = H0 / ((double)ImgImageHeight * (double)ImgImageWidth);  // as the report forms it
        bigEndianCrc = BigEndianCRC32;
        byteCrc = ByteCRC32;
    });
    RaiseIfStopped(outcome);
    return StatsType(minimum, maximum, levels, bits, (long long)std::ceil(h0),
                     (long long)std::ceil(h0 * 0.125), bpp, bigEndianCrc, byteCrc);
}

// The statistics block as the tool prints it, less the two line ends before it.
std::string StatsText(py::handle stats)
{
    auto field = [&](int i) { return py::reinterpret_borrow<py::tuple>(stats)[i]; };
    char text[512];
    std::snprintf(text, sizeof text,
                  "Actual minLevel: %d maxLevel: %d numLevels: %d bitsUsed: 0x%04x"
                  "\nH0 (bits): %.0f (Bytes): %.0f (bpp): %.12f"
                  "\nBigEndian CRC32: 0x%08x BYTE CRC32: 0x%08x",
                  field(0).cast<int>(), field(1).cast<int>(), field(2).cast<int>(),
                  field(3).cast<unsigned>(), field(4).cast<double>(), field(5).cast<double>(),
                  field(6).cast<double>(), field(7).cast<uint32_t>(), field(8).cast<uint32_t>());
    return text;
}

// The number of bits of maxval, as the PGM reader derives the depth.
int DepthOfMaxval(int maxval) { return std::bit_width((unsigned)maxval); }

// An image from a 2-D uint8 or uint16 array of any strides, copied once into
// the tool's layout. A sample above the maximum is refused as the tool's
// statistics refuse it.
Image ImageFromArray(const py::array& array, py::object depthArg, py::object maxvalArg, bool bigEndian)
{
    py::dtype dtype = array.dtype();
    char kind = dtype.kind();
    auto itemsize = (int)dtype.itemsize();
    if (kind != 'u' || (itemsize != 1 && itemsize != 2))
        throw py::type_error("grayfix.Image: the array must be of uint8 or uint16, not " +
                             py::str(dtype).cast<std::string>());
    if (array.ndim() != 2)
        throw py::value_error("grayfix.Image: the array must have 2 dimensions, not " +
                              std::to_string(array.ndim()));
    if (!depthArg.is_none() && !maxvalArg.is_none())
        throw py::value_error("grayfix.Image: give depth or maxval, not both");
    Image image;
    if (array.shape(0) < 1 || array.shape(1) < 1 || array.shape(0) > INT32_MAX
        || array.shape(1) > INT32_MAX)
        RaiseError("Image: the array must have between 1 and 2**31 - 1 rows and columns", ExitCommandLine);
    image.height = (int)array.shape(0);
    image.width = (int)array.shape(1);
    if (!maxvalArg.is_none()) {
        long long maxval = IntValue(maxvalArg);
        if (maxval < 1 || maxval > 65535)
            RaiseError("Image: maxval must be 1 to 65535, not " + std::to_string(maxval), ExitCommandLine);
        image.maxval = (int)maxval;
        image.depth = DepthOfMaxval(image.maxval);
    } else {
        long long depth = itemsize * 8;
        if (!depthArg.is_none())
            depth = IntValue(depthArg);
        if (depth < 1 || depth > 16)
            RaiseError("Image: depth must be 1 to 16, not " + std::to_string(depth), ExitCommandLine);
        image.depth = (int)depth;
        image.maxval = (int)BppMask[depth];
    }
    image.bytesPerPixel = (image.depth - 1) / 8 + 1;
    image.bigEndian = bigEndian;
    // Rows times row bytes within the tool's int range, as its reader demands.
    if ((long long)image.width * image.bytesPerPixel > INT32_MAX / image.height)
        RaiseError("ReadRaw: Cannot allocate", ExitPixelMemory);

    char order = py::str(dtype.attr("byteorder")).cast<std::string>()[0];
    bool swapIn = itemsize == 2 && (order == '>' || order == '<')
        && (order == '>') != (std::endian::native == std::endian::big);
    image.pixels.reset(AllocatePixels(image.Size()));
    const auto* base = (const unsigned char*)array.data();
    const py::ssize_t rowStride = array.strides(0), colStride = array.strides(1);
    unsigned largest = 0;
    unsigned char* out = image.pixels.get();
    // One loop per sample width in and out, so that each compiles without a branch per sample.
    auto copy = [&](auto load, auto store) {
        for (int y = 0; y < image.height; ++y) {
            const unsigned char* row = base + (py::ssize_t)y * rowStride;
            for (int x = 0; x < image.width; ++x) {
                unsigned value = load(row + (py::ssize_t)x * colStride);
                largest = value > largest ? value : largest;
                store(out, (int)value);
            }
        }
    };
    auto loadByte = [](const unsigned char* p) -> unsigned { return p[0]; };
    auto loadWord = [swapIn](const unsigned char* p) -> unsigned {
        uint16_t word;
        std::memcpy(&word, p, 2);
        return swapIn ? (uint16_t)(word << 8 | word >> 8) : word;
    };
    // A value above a byte's range is above maxval too, and refused below.
    auto storeByte = [](unsigned char*& p, int value) { StoreSample<1, true>(p++, value); };
    auto storeBig = [](unsigned char*& p, int value) { StoreSample<2, true>(p, value), p += 2; };
    auto storeLittle = [](unsigned char*& p, int value) { StoreSample<2, false>(p, value), p += 2; };
    if (itemsize == 1) {
        if (image.bytesPerPixel == 1) copy(loadByte, storeByte);
        else if (bigEndian) copy(loadByte, storeBig);
        else copy(loadByte, storeLittle);
    } else {
        if (image.bytesPerPixel == 1) copy(loadWord, storeByte);
        else if (bigEndian) copy(loadWord, storeBig);
        else copy(loadWord, storeLittle);
    }
    if (largest > (unsigned)image.maxval)
        RaiseError("check failed: value <= ImgLevelMax && value >= 0", ExitCheckFailed);
    return image;
}

// The intensities as a read-only 2-D array in the machine's order: a view of
// the image's bytes where they already are in that order, else a copy.
py::array ImageArray(py::object self)
{
    const Image& image = self.cast<const Image&>();
    std::vector<py::ssize_t> shape{image.height, image.width};
    py::array array;
    if (image.bytesPerPixel == 1) {
        std::vector<py::ssize_t> strides{image.width, 1};
        array = py::array_t<uint8_t>(shape, strides, image.pixels.get(), self);
    } else if (image.bigEndian == (std::endian::native == std::endian::big)) {
        std::vector<py::ssize_t> strides{(py::ssize_t)image.width * 2, 2};
        array = py::array_t<uint16_t>(shape, strides, (const uint16_t*)image.pixels.get(), self);
    } else {
        py::array_t<uint16_t> copy(shape);
        uint16_t* out = copy.mutable_data();
        const unsigned char* in = image.pixels.get();
        std::size_t count = (std::size_t)image.width * (std::size_t)image.height;
        if (image.bigEndian)
            for (std::size_t i = 0; i < count; ++i) out[i] = (uint16_t)LoadSample<2, true>(in + 2 * i);
        else
            for (std::size_t i = 0; i < count; ++i) out[i] = (uint16_t)LoadSample<2, false>(in + 2 * i);
        array = copy;
    }
    py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return array;
}

}  // namespace

// ---- The module ---------------------------------------------------------------

PYBIND11_MODULE(grayfix, m)
{
    SetStopHandler(ThrowGrayfixStop);  // refusals throw instead of ending the interpreter

    m.doc() = "grayfix: statistics and transforms of grayscale images, byte for byte as the "
              "grayfix tool computes them.\n\n"
              "The tool keeps one image in global state, so calls run one at a time (a lock "
              "around each call); calls from several threads give the results they would give "
              "one after another.";
    m.attr("__version__") = GRAYFIX_VERSION;

    ErrorType = (new py::exception<GrayfixStop>(m, "Error", PyExc_ValueError))->ptr();
    ErrorType.attr("status") = py::none();
    ErrorType.attr("__doc__") =
        "A refusal of grayfix: str() is the tool's message (a failed check reads "
        "'check failed: CONDITION') and .status the exit status the tool ends with (1 command "
        "line, 2 input file, 3 pixel memory, 4 output file or denoise mode, 5 XOR file, "
        "6 statistics memory, 7 pixel above a cropped depth, 8 failed check).";

    py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    py::object statsBase = namedtuple(
        "Stats", py::make_tuple("min_level", "max_level", "num_levels", "bits_used", "h0_bits",
                                "h0_bytes", "h0_bpp", "big_endian_crc32", "byte_crc32"));
    py::dict body;
    body["__slots__"] = py::tuple();
    body["__module__"] = "grayfix";
    body["__doc__"] =
        "The statistics report as numbers: minimum and maximum intensity, number of distinct "
        "intensities, bits used (OR of the intensities), H0 rounded up in bits and in bytes, "
        "H0 per pixel, the CRC-32 of the intensities serialised big-endian and that of the "
        "stored bytes. str() gives the tool's three report lines.";
    body["__str__"] = py::reinterpret_steal<py::object>(
        PyInstanceMethod_New(py::cpp_function([](py::handle self) {
            return StatsText(self);
        }).ptr()));
    StatsType = py::reinterpret_borrow<py::object>((PyObject*)&PyType_Type)(
        "Stats", py::make_tuple(statsBase), body).release();
    m.attr("Stats") = StatsType;

    py::class_<Image>(m, "Image",
        "A grayscale image as grayfix holds it: the description (width, height, depth, "
        "maxval, bytes_per_pixel, big_endian) and the pixel bytes. Immutable: every "
        "operation returns a new image.")
        .def(py::init([](const py::array& array, py::object depth, py::object maxval, bool bigEndian) {
                 return ImageFromArray(array, std::move(depth), std::move(maxval), bigEndian);
             }),
             py::arg("array"), py::kw_only(), py::arg("depth") = py::none(),
             py::arg("maxval") = py::none(), py::arg("big_endian") = true,
             "Image(array, *, depth=None, maxval=None, big_endian=True)\n\n"
             "From a 2-D uint8 or uint16 array (any strides; copied once). depth (1-16) gives "
             "maxval 2**depth - 1; maxval (1-65535) gives the depth a PGM header with it would; "
             "by default the dtype's 8 or 16 bits. Two-byte samples are stored big-endian "
             "unless big_endian is False. A sample above maxval raises grayfix.Error.")
        .def_property_readonly("width", [](const Image& i) { return i.width; })
        .def_property_readonly("height", [](const Image& i) { return i.height; })
        .def_property_readonly("depth", [](const Image& i) { return i.depth; },
                               "Nominal bits per pixel (Imgbpp), 1-16.")
        .def_property_readonly("maxval", [](const Image& i) { return i.maxval; },
                               "Nominal maximum intensity (ImgLevelMax).")
        .def_property_readonly("bytes_per_pixel", [](const Image& i) { return i.bytesPerPixel; })
        .def_property_readonly("big_endian", [](const Image& i) { return i.bigEndian; },
                               "Two-byte samples are stored high byte first.")
        .def_property_readonly("message", [](const Image& i) { return CoreText(i.message); },
                               "The report of the transform that made this image ('' if none).")
        .def_property_readonly("array", &ImageArray,
                               "The intensities as a read-only 2-D uint8 or uint16 array in "
                               "the machine's byte order.")
        .def("tobytes", [](const Image& i) {
                 return py::bytes((const char*)i.pixels.get(), (py::ssize_t)i.Size());
             },
             "The pixel bytes exactly as grayfix writes them with -o:RAW.")
        .def("__eq__", [](const Image& a, const Image& b) {
            return a.width == b.width && a.height == b.height && a.depth == b.depth
                && a.maxval == b.maxval && a.bigEndian == b.bigEndian
                && std::memcmp(a.pixels.get(), b.pixels.get(), a.Size()) == 0;
        }, py::is_operator())
        .def("__repr__", [](const Image& i) {
            return "grayfix.Image(width=" + std::to_string(i.width) + ", height="
                + std::to_string(i.height) + ", depth=" + std::to_string(i.depth) + ", maxval="
                + std::to_string(i.maxval) + ", bytes_per_pixel=" + std::to_string(i.bytesPerPixel)
                + ", big_endian=" + (i.bigEndian ? "True" : "False") + ")";
        });
    py::setattr(m.attr("Image"), "__hash__", py::none());

    m.def("read", [](py::object path, py::args switches, py::object width, py::object height,
                     py::object depth, py::object skip, py::object like, py::object bigEndian) {
              std::vector<std::string> texts;
              for (py::handle s : switches) {
                  std::string text = s.cast<std::string>();
                  if (text.rfind("-i:", 0) != 0)
                      throw py::value_error("grayfix.read: input switches begin with -i:, not " + text);
                  texts.push_back(text);
              }
              if (!like.is_none() && !width.is_none())
                  throw py::value_error("grayfix.read: give like or width and height, not both");
              if (width.is_none() != height.is_none())
                  throw py::value_error("grayfix.read: give width and height together");
              if (width.is_none() && (!depth.is_none() || !skip.is_none()))
                  throw py::value_error("grayfix.read: depth and skip need width and height");
              if (!skip.is_none() && depth.is_none())
                  throw py::value_error("grayfix.read: skip needs depth");
              if (!like.is_none()) texts.push_back("-i:RAW:like:" + PathField(like));
              if (!width.is_none()) {
                  std::string text = "-i:RAW:" + IntField(width) + ":" + IntField(height);
                  if (!depth.is_none()) text += ":" + IntField(depth);
                  if (!skip.is_none()) text += ":" + IntField(skip);
                  texts.push_back(text);
              }
              if (!bigEndian.is_none())
                  texts.push_back(bigEndian.cast<bool>() ? "-i:endian:Big" : "-i:endian:Little");
              return ReadImage(PathField(path), texts);
          },
          py::arg("path"), py::arg("width") = py::none(), py::arg("height") = py::none(),
          py::arg("depth") = py::none(), py::arg("skip") = py::none(), py::arg("like") = py::none(),
          py::arg("big_endian") = py::none(),
          "read(path, *switches, width=None, height=None, depth=None, skip=None, like=None, "
          "big_endian=None) -> Image\n\n"
          "Reads a PGM P5 file, or a RAW one, with the tool's own readers; '-' is standard "
          "input. switches are -i: switch texts applied in order as on the command line; the "
          "keywords add -i:RAW:like:LIKE, -i:RAW:WIDTH:HEIGHT[:DEPTH[:SKIP]] and "
          "-i:endian:Big or Little after them. A sample above the maximum is refused as the "
          "tool's statistics refuse it.");

    m.def("write", [](const Image& image, py::object path, bool raw) {
              WriteImageFile(image, PathField(path), raw);
          },
          py::arg("image"), py::arg("path"), py::arg("raw") = false,
          "write(image, path, raw=False)\n\n"
          "Writes the image as PGM P5, or as RAW (-o:RAW) when raw is true, with the tool's own "
          "writer: an existing file is replaced only once every byte is written; '-' is "
          "standard output.");

    m.def("stats", &ImageStats, py::arg("image"),
          "stats(image) -> Stats\n\n"
          "The statistics report of the image as a named tuple of nine numbers; str() of it is "
          "the tool's text.");

    m.def("apply", [](const Image& image, const std::string& switchText, py::object seed) {
              return Transform(image, switchText, SeedField(seed));
          },
          py::arg("image"), py::arg("switch"), py::kw_only(), py::arg("seed") = py::none(),
          "apply(image, switch, *, seed=None) -> Image\n\n"
          "Runs any -t: switch text exactly as the command line does, e.g. "
          "apply(image, '-t:denoise:1:0'). seed fixes the seed of -t:wgnoise:.");

    // One function per switch: the fields become the switch's text, which the tool's
    // own parser then checks, so every refusal is the tool's.
    auto fields3 = [](const char* name) {
        return [name](const Image& image, py::object radius, py::object center, py::object neighbor) {
            return Transform(image, Switch(name, {IntField(radius), IntField(center), IntField(neighbor)}),
                             std::nullopt);
        };
    };
    m.def("soften", fields3("soften"), py::arg("image"), py::arg("radius"),
          py::arg("center_weight"), py::arg("neighbor_weight"),
          "soften(image, radius, center_weight, neighbor_weight) -> Image\n\n"
          "-t:soften:radius:centerweight:neighborweight: each pixel becomes the weighted average "
          "of itself (center_weight) and its window of the given radius (neighbor_weight each; "
          "negative to sharpen).");
    m.def("soften_squared", fields3("softensquared"), py::arg("image"), py::arg("radius"),
          py::arg("center_weight"), py::arg("neighbor_weight"),
          "soften_squared(image, radius, center_weight, neighbor_weight) -> Image\n\n"
          "-t:softensquared:radius:centerweight:neighborweight: soften over squared intensities.");

    auto fields1 = [](const char* name) {
        return [name](const Image& image, py::object field) {
            return Transform(image, Switch(name, {IntField(field)}), std::nullopt);
        };
    };
    m.def("noise", fields1("noise"), py::arg("image"), py::arg("percent"),
          "noise(image, percent) -> Image\n\n"
          "-t:noise:percent: replaces percent % (0-100) of the pixels with uniform noise, "
          "seeded from the image.");
    m.def("add_noise", fields1("addnoise"), py::arg("image"), py::arg("percent"),
          "add_noise(image, percent) -> Image\n\n"
          "-t:addnoise:percent: moves each pixel percent % of the way to a uniform random value, "
          "seeded from the image.");
    m.def("sp_noise", fields1("spnoise"), py::arg("image"), py::arg("percent"),
          "sp_noise(image, percent) -> Image\n\n"
          "-t:spnoise:percent: replaces percent % (0-100) of the pixels with salt-and-pepper "
          "noise, seeded from the image.");
    m.def("wg_noise", [](const Image& image, py::object deviation, py::object seed) {
              return Transform(image, Switch("wgnoise", {RealField(deviation)}), SeedField(seed));
          },
          py::arg("image"), py::arg("deviation"), py::arg("seed") = py::none(),
          "wg_noise(image, deviation, seed=None) -> Image\n\n"
          "-t:wgnoise:deviation: adds white Gaussian noise of that standard deviation, the "
          "engine seeded with seed (0 to 2**64 - 1), or from the random device as the tool does "
          "when seed is None.");
    m.def("denoise", [](const Image& image, py::object radius, py::object mode) {
              return Transform(image, Switch("denoise", {IntField(radius), IntField(mode)}), std::nullopt);
          },
          py::arg("image"), py::arg("radius"), py::arg("mode"),
          "denoise(image, radius, mode) -> Image\n\n"
          "-t:denoise:radius:mode: rank-order filter over the window of the given radius; mode 0 "
          "median, 1 RCRS-1, 2 second extreme, 3 RCRS-2.");
    m.def("downsize", fields1("downsize"), py::arg("image"), py::arg("times"),
          "downsize(image, times) -> Image\n\n"
          "-t:downsize:times: averages blocks of times x times pixels (1-100).");
    m.def("crop", [](const Image& image, py::object x0, py::object y0, py::object width, py::object height) {
              return Transform(image, Switch("crop", {IntField(x0), IntField(y0), IntField(width),
                                                      IntField(height)}), std::nullopt);
          },
          py::arg("image"), py::arg("x0"), py::arg("y0"), py::arg("width"), py::arg("height"),
          "crop(image, x0, y0, width, height) -> Image\n\n"
          "-t:crop:x0:y0:width:height: the rectangle with top left corner x0, y0.");
    m.def("reduce_depth", fields1("reducedepth"), py::arg("image"), py::arg("new_depth"),
          "reduce_depth(image, new_depth) -> Image\n\n"
          "-t:reducedepth:newdepth: shifts the intensities right to new_depth bits "
          "(1 <= new_depth < depth).");
    m.def("crop_depth", fields1("cropdepth"), py::arg("image"), py::arg("new_depth"),
          "crop_depth(image, new_depth) -> Image\n\n"
          "-t:cropdepth:newdepth: lowers the nominal depth keeping the intensities; one above "
          "the new maximum raises grayfix.Error (status 7).");
    m.def("crop_depth_like", [](const Image& image, py::object path) {
              return Transform(image, "-t:cropdepthlike:" + PathField(path), std::nullopt);
          },
          py::arg("image"), py::arg("path"),
          "crop_depth_like(image, path) -> Image\n\n"
          "-t:cropdepthlike:PGMP5filename: crop_depth to the depth of the PGM P5 file's header.");
    m.def("crop_clip_depth", fields1("cropclipdepth"), py::arg("image"), py::arg("new_depth"),
          "crop_clip_depth(image, new_depth) -> Image\n\n"
          "-t:cropclipdepth:newdepth: lowers the nominal depth, clipping intensities above the "
          "new maximum to it.");
    m.def("increase_depth", [](const Image& image, py::object newDepth, py::object mode) {
              return Transform(image, Switch("increasedepth", {IntField(newDepth), IntField(mode)}),
                               std::nullopt);
          },
          py::arg("image"), py::arg("new_depth"), py::arg("mode"),
          "increase_depth(image, new_depth, mode) -> Image\n\n"
          "-t:increasedepth:newdepth:mode: raises the depth to new_depth (at most 16); mode 0 "
          "keeps the intensities, mode 1 shifts them left.");

    auto plain = [](const char* switchText) {
        return [switchText](const Image& image) { return Transform(image, switchText, std::nullopt); };
    };
    m.def("decorrelate", plain("-t:decorrelate"), py::arg("image"),
          "decorrelate(image) -> Image\n\n"
          "-t:decorrelate: residuals of the average of the upper and left neighbours; depth + 1.");
    m.def("correlate", plain("-t:correlate"), py::arg("image"),
          "correlate(image) -> Image\n\n-t:correlate: the exact inverse of decorrelate; depth - 1.");
    m.def("decorrelate_med", plain("-t:decorrelatemed"), py::arg("image"),
          "decorrelate_med(image) -> Image\n\n"
          "-t:decorrelatemed: residuals of the median edge detector (JPEG-LS) predictor; "
          "depth + 1.");
    m.def("correlate_med", plain("-t:correlatemed"), py::arg("image"),
          "correlate_med(image) -> Image\n\n"
          "-t:correlatemed: the exact inverse of decorrelate_med; depth - 1.");
    m.def("neg_endian", plain("-t:negendian"), py::arg("image"),
          "neg_endian(image) -> Image\n\n"
          "-t:negendian: the same intensities stored in the other byte order.");
    m.def("xor_file", [](const Image& image, py::object path) {
              return Transform(image, "-t:xorfile:" + PathField(path), std::nullopt);
          },
          py::arg("image"), py::arg("path"),
          "xor_file(image, path) -> Image\n\n"
          "-t:xorfile:xorfname: XORs the pixels with the file's big-endian numbers, repeated "
          "as needed, their bits above the depth ignored.");
}
