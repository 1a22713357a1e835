#pragma once

// What the engine and its reader helper (tabulon-jet-reader) agree on: the helper's name and the
// meaning of its exit status. Anything but HelperExit::Ok, or a signal, means the file could not be
// read.
namespace dao::jet::HelperExit {

constexpr const char* kProgramName = "tabulon-jet-reader";

constexpr int Ok = 0;
constexpr int Usage = 2;
constexpr int CannotOpen = 10;
constexpr int Damaged = 11;
constexpr int WriteFailed = 12;
constexpr int CatalogDamaged = 13;
constexpr int Orphaned = 14;  // the program that started it was gone before it began

}  // namespace dao::jet::HelperExit
