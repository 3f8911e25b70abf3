#include "platform.hpp"

#include <string>

#ifndef _WIN32
#include <fontconfig/fontconfig.h>
#include <strings.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#endif

#include "module_names.hpp"
#include "receiptora/home_folder.hpp"
#include "receiptora/templates.hpp"
#include "receiptora_py/picture.hpp"

namespace gui::platform {

namespace {

// A thread waits for the started file manager, so it is reaped when it ends instead of
// staying behind as a zombie for the life of the window.
void reap(py::handle process) {
  py::module_::import("threading")
      .attr("Thread")(py::arg("target") = process.attr("wait"), py::arg("daemon") = true)
      .attr("start")();
}

}  // namespace

py::str output_folder() { return py::str(receiptora::output_folder()); }

#ifdef _WIN32

void open_output_folder() {
  reap(global("subprocess").attr("Popen")("explorer C:\\quillmarkers\\Receiptora"));
}

py::list font_folders() {
  py::list folders;
  folders.append("C:\\Windows\\Fonts");
  return folders;
}

py::str resource_path(const char* file_name) {
  return py::str(std::string(py::str(module_folder())) + "\\格式範本\\" + file_name);
}

void set_window_icon(py::handle window, py::handle icon_path) { window.attr("iconbitmap")(icon_path); }

#else
void open_output_folder() {
  py::str folder = output_folder();
  // The file manager cannot open a folder that does not exist yet (no receipt issued).
  global("os").attr("makedirs")(folder, py::arg("exist_ok") = true);
  py::list command;
  command.append("xdg-open");
  command.append(folder);
  reap(global("subprocess").attr("Popen")(command));
}

namespace {

// The file of the face fontconfig gives for `faces` (the families the renderer asks for, comma
// separated), when one of those families is installed; a substitute face does not count.
std::optional<std::string> face_file(FcConfig* config, const char* faces) {
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(faces));
  if (!pattern) return std::nullopt;
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  std::optional<std::string> file;
  if (match) {
    FcChar8* path = nullptr;
    bool asked = false;
    FcChar8* family = nullptr;
    for (int i = 0; !asked && FcPatternGetString(match, FC_FAMILY, i, &family) == FcResultMatch; ++i) {
      FcChar8* wanted = nullptr;
      for (int j = 0; !asked && FcPatternGetString(pattern, FC_FAMILY, j, &wanted) == FcResultMatch; ++j)
        asked = strcasecmp(reinterpret_cast<char*>(family), reinterpret_cast<char*>(wanted)) == 0;
    }
    if (asked && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch)
      file = reinterpret_cast<char*>(path);
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return file;
}

// The Windows font files the templates need, mapped to this machine: a folder of links named as
// those files (simhei.ttf), each to the file of the face the renderer draws that template with.
// A face that is not installed has no link, so the check finds the file only when the receipt
// would really be drawn in its face. The folder lives in the user's cache.
std::optional<std::string> mapped_fonts_folder(FcConfig* config) {
  namespace fs = std::filesystem;
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const fs::path base = cache && fs::path(cache).is_absolute()
                            ? fs::path(cache)
                            : fs::path(receiptora::home_folder()) / ".cache";
  const fs::path folder = base / "quillmarkers" / "Receiptora" / "template-fonts";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) return std::nullopt;
  for (const receiptora::TemplateInfo& layout : receiptora::templates()) {
    if (layout.window_font.empty()) continue;
    const fs::path link = folder / layout.window_font;
    const std::optional<std::string> file = face_file(config, layout.faces);
    if (file && fs::read_symlink(link, ec) == fs::path(*file)) continue;
    fs::remove(link, ec);
    if (file) fs::create_symlink(*file, link, ec);
  }
  return folder.string();
}

}  // namespace

py::list font_folders() {
  py::list folders;
  FcConfig* config = FcConfigGetCurrent();
  if (!config) return folders;
  FcStrList* list = FcConfigGetFontDirs(config);
  if (!list) return folders;
  // fontconfig also names folders that it would read if they existed (~/.local/share/fonts
  // on a fresh account); listing one of those would fail the whole check.
  py::object is_folder = global("os").attr("path").attr("isdir");
  while (FcChar8* folder = FcStrListNext(list)) {
    py::str path(reinterpret_cast<char*>(folder));
    if (is_folder(path).cast<bool>()) folders.append(path);
  }
  FcStrListDone(list);
  if (std::optional<std::string> mapped = mapped_fonts_folder(config)) folders.append(py::str(*mapped));
  return folders;
}

py::str resource_path(const char* file_name) {
  return py::str(global("os").attr("path").attr("join")(module_folder(), "格式範本", file_name));
}

void set_window_icon(py::handle window, py::handle icon_path) {
  // X11 Tk cannot read .ico files, so the icon goes through Pillow as photo images.
  // The icon file is read once; no handle stays open. Pillow's ICO reader is loaded first:
  // without it Image.open loads every format Pillow has (AVIF's library included, over 2 MiB).
  // The ICO reader brings the PNG and BMP readers, all the window's pictures need; Image.open's
  // first step would also load the GIF, JPEG and PPM readers (about 0.3 MiB), so it is marked
  // done. A picture of another format still opens: Image.open then loads every reader.
  py::module_::import("PIL.IcoImagePlugin");
  py::object image_module = py::module_::import("PIL.Image");
  if (py::hasattr(image_module, "_initialized") && image_module.attr("_initialized").cast<int>() < 1)
    image_module.attr("_initialized") = 1;
  py::object pixels = receiptora_py::read_picture(
      global("Image"), icon_path, [](py::handle image) { return image.attr("convert")("RGBA"); });
  py::object image_tk = py::module_::import("PIL.ImageTk");
  py::object lanczos = global("Image").attr("LANCZOS");
  py::list photos;
  for (int size : {64, 32, 16}) {
    py::object resized = pixels.attr("resize")(py::make_tuple(size, size), lanczos);
    photos.append(image_tk.attr("PhotoImage")(resized, py::arg("master") = window));
  }
  window.attr("iconphoto")(false, *photos);
  // Tk keeps only the pixels; hold the photo objects as long as the window lives.
  py::setattr(window, "_receiptora_icon_photos", photos);
}
#endif

py::str module_folder() {
  py::object os_path = global("os").attr("path");
  py::object file = global("__file__");
  return py::str(os_path.attr("split")(os_path.attr("abspath")(file))[py::int_(0)]);
}

}  // namespace gui::platform
