#include "target/process_list.h"

const char* BitnessText(Bitness bitness) {
    switch (bitness) {
    case Bitness::Bits32: return "32-bit";
    case Bitness::Bits64: return "64-bit";
    default: return "of unknown bitness";
    }
}
