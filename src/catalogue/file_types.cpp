// The file-type tables and the classification run over the catalogue.
#include "catalogue/file_types.h"

#include <string>

#include "catalogue/catalogue.h"

namespace fennick::catalogue {

namespace {

// Index = group number. Group 0 is reserved and group 62 has no extension: neither ever
// receives a file.
constexpr std::array<std::string_view, file_group_count> group_descriptions = {
    "",
    "AutoCAD Drawing",
    "AutoCAD DX",
    "Bitmap",
    "COREL Draw",
    "Encapsulated Postscript",
    "Enhanced Metafile",
    "Font",
    "GIF graphics",
    "JPEG Standard Graphics",
    "PaintShop Pro",
    "PNG Graphics",
    "ShockWave Flash",
    "TIFF Graphics",
    "TrueType Font",
    "Windows Metafile",
    "XARA Graphics",
    "3d Studio Max",
    "Adobe PageMaker",
    "Help",
    "HTML Documents",
    "Lotus 123",
    "Lotus WordPro",
    "MS Excel WorkSheet",
    "MS OneNote",
    "MS Photodraw",
    "MS PowerPoint Presentation",
    "MS Project",
    "MS Publisher",
    "MS Visio Drawing",
    "MS Word Documents",
    "MS Write/WordPad",
    "MS Works 4 Database",
    "MS Outlook MSG",
    "MS Money",
    "MS Outlook Address",
    "MS Outlook Express",
    "MS Access Database",
    "PDF Document",
    "QuattroPro 7",
    "Rich Text Document",
    "SureThing CD Labeler",
    "Text Documents",
    "Unknown OLE",
    "WordPrefect 6 and 7",
    "WordPrefect Documents and Graphics v8",
    "XML Documents",
    "Cabinet compression",
    "GZIP compression",
    "LZH compression",
    "RAR compression",
    "TAR archive",
    "ZIP compression",
    "ASF,WMA,WMV Multimedia",
    "Audio Interchange",
    "AVI Multimedia",
    "Quicktime MOV Multimedia",
    "MP3 Music",
    "MPEG Multimedia",
    "Musical Instrument Digital Interface",
    "RealAudio",
    "WAFE Multimedia",
    "Generic Email",
    "Internet Favorites",
    "DBase-FoxPro Database",
    "Other Files",
    "Adobe Photoshop",
    "Application",
};

struct Row {
  std::string_view extension;
  std::uint16_t group;
};

// Rows 1.. in table order: group by group, the empty extension of "Other Files" between
// groups 64 and 66. .WKS stands twice; the comparison stops at the first, Lotus 123.
constexpr std::array<Row, file_extension_rows - 1> extension_rows = {{
    {".DWG", 1},  {".DXF", 2},   {".BMP", 3},    {".CDR", 4},    {".EPS", 5},  {".EMF", 6},
    {".FON", 7},  {".GIF", 8},   {".JPG", 9},    {".JPEG", 9},   {".PSP", 10}, {".PNG", 11},
    {".SWF", 12}, {".TIF", 13},  {".TIFF", 13},  {".EPX", 13},   {".NEF", 13}, {".TTF", 14},
    {".WMF", 15}, {".XAR", 16},  {".MAX", 17},   {".PMD", 18},   {".P65", 18}, {".HLP", 19},
    {".HTM", 20}, {".HTML", 20}, {".SHTML", 20}, {".PHTML", 20}, {".PHP", 20}, {".WK1", 21},
    {".WK2", 21}, {".WK3", 21},  {".WK4", 21},   {".WKS", 21},   {".FM3", 21}, {".WB1", 21},
    {".123", 21}, {".LWP", 22},  {".XLS", 23},   {".XLA", 23},   {".XLT", 23}, {".ONE", 24},
    {".MIX", 25}, {".PPT", 26},  {".MPP", 27},   {".PUB", 28},   {".PUZ", 28}, {".VSD", 29},
    {".VSS", 29}, {".VST", 29},  {".DOC", 30},   {".DOT", 30},   {".ASD", 30}, {".WRI", 31},
    {".WDB", 32}, {".WPS", 32},  {".WKS", 32},   {".MSG", 33},   {".MNY", 34}, {".WAB", 35},
    {".PST", 35}, {".PAB", 35},  {".DBX", 36},   {".MDB", 37},   {".PDF", 38}, {".QPW", 39},
    {".RTF", 40}, {".DSN", 41},  {".STD", 41},   {".TXT", 42},   {".$$$", 43}, {".WPD", 44},
    {".WCM", 44}, {".WPT", 44},  {".WPG", 45},   {".XML", 46},   {".XSL", 46}, {".SVG", 46},
    {".CAB", 47}, {".GZ", 48},   {".GZIP", 48},  {".LZH", 49},   {".RAR", 50}, {".TAR", 51},
    {".ZIP", 52}, {".JAR", 52},  {".ASF", 53},   {".WMA", 53},   {".WMV", 53}, {".ASX", 53},
    {".AIF", 54}, {".AIFF", 54}, {".AVI", 55},   {".MOV", 56},   {".MP", 57},  {".MP1", 57},
    {".MP2", 57}, {".MP3", 57},  {".MPG", 58},   {".MPEG", 58},  {".M1V", 58}, {".VRO", 58},
    {".MID", 59}, {".MIDI", 59}, {".SIB", 60},   {".LIB", 60},   {".WAV", 61}, {".MBX", 63},
    {".URL", 63}, {".DBF", 64},  {".SCX", 64},   {".DBC", 64},   {"", 65},     {".PSD", 66},
    {".EXE", 67}, {".COM", 67},
}};

}  // namespace

const std::array<FileGroup, file_group_count>& file_groups() {
  static const std::array<FileGroup, file_group_count> table = [] {
    std::array<FileGroup, file_group_count> groups{};
    for (std::size_t g = 0; g < file_group_count; ++g) {
      groups[g].number = static_cast<std::uint16_t>(g);
      groups[g].description = group_descriptions[g];
    }
    return groups;
  }();
  return table;
}

const std::array<FileExtension, file_extension_rows>& file_extensions() {
  static const std::array<FileExtension, file_extension_rows> table = [] {
    std::array<FileExtension, file_extension_rows> rows{};
    for (std::size_t r = 1; r < file_extension_rows; ++r) {
      rows[r].extension = extension_rows[r - 1].extension;
      rows[r].group = extension_rows[r - 1].group;
    }
    return rows;
  }();
  return table;
}

std::uint16_t file_type_of(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  std::string ext = dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
  // Only a-z change: names hold UTF-8, whose other bytes must stay as they are.
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  // Longer than any row: cannot match (and the rows' 7-byte limit must not cut it to one).
  if (ext.size() > 7) return other_files_group;
  for (std::size_t r = 1; r < file_extension_rows; ++r) {
    if (extension_rows[r - 1].extension == ext) return extension_rows[r - 1].group;
  }
  return other_files_group;
}

void classify_files(Catalogue& catalogue) {
  auto& counts = catalogue.type_counts();
  counts.fill(0);
  for (FoundFile& record : catalogue.files()) {
    const std::uint16_t group = file_type_of(record.name.view());
    record.type_group = group;
    ++counts[group];
  }
}

}  // namespace fennick::catalogue
