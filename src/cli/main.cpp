// fennick-cli: the command-line front end over the same engines as the desktop program.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/console_channel.h"
#include "cli/stored_settings.h"
#include "cli/terminal_text.h"
#include "fennick/version.h"
#include "messages/message_catalogue.h"
#include "messages/status_channel.h"

namespace fennick::cli {

void print_usage(std::FILE* out) {
  std::fputs(
      "Usage: fennick-cli [--lang NAME] COMMAND [OPTIONS] [VOLUME...]\n"
      "\n"
      "Finds deleted files on FAT12, FAT16, FAT32, exFAT and NTFS volumes (image files or block\n"
      "devices). Volumes get drive letters from C: in the order given.\n"
      "\n"
      "Commands:\n"
      "  drives [VOLUME...]   the drive table: letter, caption, file system, cluster size,\n"
      "                       total and free bytes (with no volume: the machine's FAT,\n"
      "                       exFAT and NTFS block devices)\n"
      "  scan [SELECT] VOLUME...\n"
      "                       scan the volumes and list the deleted files found: drive,\n"
      "                       record, name, path, size, quality, status, created, modified,\n"
      "                       deep (1: found by the deep scan); with --format bodyfile,\n"
      "                       a body file for mactime -b instead\n"
      "  recover [SELECT] --to DIR [--keep-folders] [--no-times] [--manifest FILE] VOLUME...\n"
      "                       recover the selected files into DIR (with their folder path\n"
      "                       below DIR when --keep-folders is given), each with the found\n"
      "                       file's modified time (not with --no-times); --manifest writes\n"
      "                       FILE (sha256sum lines, paths below DIR: cd DIR && sha256sum\n"
      "                       -c FILE) and FILE.tsv (drive, source, record, size, quality,\n"
      "                       outcome, byte ranges written as zeros, SHA-256 of each file)\n"
      "  wipe [SELECT] --yes VOLUME...\n"
      "                       destroy the directory entries or MFT records of the selected\n"
      "                       files so they can no longer be found (writes to the volume)\n"
      "  clean [--entries] [--tips] [--free-space] VOLUME\n"
      "                       on the mounted volume: take the free MFT records (NTFS),\n"
      "                       overwrite the cluster tips past each file's end, overwrite\n"
      "                       the free space; in this order, through the file system\n"
      "                       (exit status 1 when a job ends with errors or is stopped,\n"
      "                       3 when the volume is not mounted)\n"
      "\n"
      "Selection (SELECT):\n"
      "  --name TEXT              part of the file name (a-z without case)\n"
      "  --modified-from DATE     modified after the start of DATE (YYYY-MM-DD[ HH:MM[:SS]])\n"
      "  --modified-to DATE       modified before the end of DATE\n"
      "  --created-from DATE, --created-to DATE   the same for the creation date\n"
      "  --min-size BYTES         larger than BYTES\n"
      "  --max-size BYTES         smaller than BYTES\n"
      "  --hide-overwritten       leave out files whose first cluster is in use again\n"
      "  --hide-temporary         leave out names with TMP or TEMP, paths with TEMP\n"
      "  --record [LETTER:]N      only the file with this record number (repeatable)\n"
      "  --sort none|name|path|status|size|created|modified\n"
      "  --deep                   after the scan, read each volume whole for folders the\n"
      "                           scan cannot reach (lost parents, an earlier file system\n"
      "                           after a quick format; FAT volumes); found folders with no\n"
      "                           known parent go under \"Lost folders\"\n"
      "\n"
      "Options:\n"
      "  --format table|tsv|json  output format (table on a terminal, tsv otherwise);\n"
      "                           scan also takes bodyfile (The Sleuth Kit's body format)\n"
      "  --lang NAME              language of the log lines (English name, own name or base);\n"
      "                           without it, the language chosen in the desktop program\n"
      "  --help                   this text\n"
      "  --version                the version\n"
      "\n"
      "Exit status: 0 done, 1 some file could not be recovered or wiped, 2 bad usage,\n"
      "3 a volume could not be read.\n",
      out);
}

int usage_error(const std::string& what) {
  // `what` may quote an argument, which may hold anything a file name can.
  std::fprintf(stderr, "fennick-cli: %s\n\n", terminal_text(what).c_str());
  print_usage(stderr);
  return exit_usage;
}

}  // namespace fennick::cli

int main(int argc, char** argv) {
  using namespace fennick;
  std::vector<std::string> args(argv + 1, argv + argc);
  // The desktop program's language choice applies here too; --lang overrides it.
  int language = messages::english_base;
  if (const auto stored = cli::stored_language(cli::settings_file_path())) language = *stored;
  // Options that apply to every command may stand before or after it.
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      cli::print_usage(stdout);
      return cli::exit_done;
    }
    if (args[i] == "--version") {
      std::printf("fennick-cli %s\n", fennick::version);
      return cli::exit_done;
    }
    if (args[i] == "--lang" || args[i].starts_with("--lang=")) {
      std::string name;
      if (args[i] == "--lang") {
        if (i + 1 >= args.size()) return cli::usage_error("--lang needs a language name");
        name = args[++i];
      } else {
        name = args[i].substr(7);
      }
      const messages::Language* found = messages::find_language(name);
      if (!found) return cli::usage_error("unknown language: " + name);
      language = found->base;
      continue;
    }
    rest.push_back(args[i]);
  }
  if (rest.empty()) return cli::usage_error("no command given");
  cli::ConsoleChannel console;
  console.set_language(language);
  const std::string command = rest.front();
  const std::vector<std::string> command_args(rest.begin() + 1, rest.end());
  if (command == "drives") return cli::run_drives(command_args);
  if (command == "scan") return cli::run_scan(command_args, console);
  if (command == "recover") return cli::run_recover(command_args, console);
  if (command == "wipe") return cli::run_wipe(command_args, console);
  if (command == "clean") return cli::run_clean(command_args, console);
  return cli::usage_error("unknown command: " + command);
}
