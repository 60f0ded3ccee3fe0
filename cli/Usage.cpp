#include "cli/Usage.h"

namespace miravo::cli {

void PrintUsage(std::FILE* to) {
    std::fputs(
        "usage: miravo-send [OPTIONS] --to NUMBER[:NAME] ... DOCUMENT\n"
        "       miravo-send [OPTIONS] --list FILE [--column NAME|N] [--strict] DOCUMENT\n"
        "       miravo-send [--settings FILE] --journal [--since YYYY-MM-DD] [--csv]\n"
        "       miravo-send [--settings FILE] --refresh [--since YYYY-MM-DD]\n"
        "       miravo-send [--settings FILE] --report RECORD OUT.pdf\n"
        "       miravo-send [OPTIONS] --resend RECORD [--failed] [--to NUMBER[:NAME] ...]\n"
        "       miravo-send --convert-only JOBFILE\n"
        "\n"
        "Sends DOCUMENT (a print job file, or a PDF, PostScript, PNG, JPEG or TIFF file)\n"
        "to the fax service and prints each step, the estimated cost, every\n"
        "destination as it reaches its final status, and one total at the end.\n"
        "A list longer than one fax carries goes out as several faxes.\n"
        "\n"
        "Options:\n"
        "  --settings FILE     read the settings (service, credentials, region) from FILE\n"
        "                      instead of ~/.config/Miravo/app_config.ini\n"
        "  --to NUMBER[:NAME]  a destination, with an optional name; may be repeated\n"
        "  --list FILE         more destinations: a .txt file with one number a line,\n"
        "                      or a CSV file (see --column)\n"
        "  --column NAME|N     the CSV column holding the numbers, by its header name or\n"
        "                      its number from 1 (default 1); split at DELIMITER\n"
        "  --strict            send nothing when a number cannot be valid (numbers are\n"
        "                      checked for DEFAULT_REGION; by default only a warning)\n"
        "  --cover TEXT        put a cover page with TEXT in front\n"
        "  --report yes|no|none  transmission report by e-mail with the document\n"
        "                      attached, without it, or none (default: the settings)\n"
        "  --retries N         new starts while the service cannot be reached (default 3)\n"
        "  --timeout SECONDS   overall limit of every exchange (default: a minute for a\n"
        "                      request, longer for the upload)\n"
        "  --journal           list the sent-fax journal (--csv: one line per destination)\n"
        "  --refresh           ask the service again about faxes not yet final\n"
        "  --since YYYY-MM-DD  only sends from that day on (--journal, --refresh)\n"
        "  --report RECORD OUT.pdf  write the transmission report of a journal record\n"
        "  --resend RECORD     send the kept document of a record again, to all its\n"
        "                      destinations, or with --failed to those not \"OK\";\n"
        "                      --to or --list replace them; RECORD may be \"last\"\n"
        "  --convert-only JOBFILE  convert a print job and print the document's path\n"
        "  -h, --help          this text\n"
        "\n"
        "Exit status: 0 every destination OK, 1 document problem, 2 usage or invalid\n"
        "numbers with --strict, 3 credentials missing or refused, 4 service error,\n"
        "5 some destination failed or was not sent, 6 service unreachable,\n"
        "130 stopped with Ctrl-C.\n",
        to);
}

}  // namespace miravo::cli
