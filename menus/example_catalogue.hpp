#pragma once

#include <array>
#include <string_view>

// The example configurations offered by menu key 5: one row per key 'a' to 'z'.
// The screen, the dialog and the tests all read this one table.

enum class ExampleGroup { kE1R2Digital, kE1R2Mfc5c, kEthTdmoe };

struct ExampleConf {
  char key;
  ExampleGroup group;      // the column heading the label stands under on screen
  std::string_view label;  // as shown, without the group
  std::string_view path;   // the file sent, found by example_path()
};

inline constexpr std::array<ExampleConf, 26> kExampleCatalogue = {{
    {'a', ExampleGroup::kE1R2Digital, "16FXS", "conf/r2/drovan_e1_r2_16fxs.txt"},
    {'b', ExampleGroup::kE1R2Digital, "32FXS", "conf/r2/drovan_e1_r2_32fxs.txt"},
    {'c', ExampleGroup::kE1R2Digital, "16FXO", "conf/r2/drovan_e1_r2_16fxo.txt"},
    {'d', ExampleGroup::kE1R2Digital, "32FXO", "conf/r2/drovan_e1_r2_32fxo.txt"},
    {'e', ExampleGroup::kE1R2Digital, "16FXO 16FXS", "conf/r2/drovan_e1_r2_16fxo_16fxs.txt"},
    {'f', ExampleGroup::kE1R2Digital, "04FXO 28FXS", "conf/r2/drovan_e1_r2_4fxo_28fxs.txt"},
    {'g', ExampleGroup::kE1R2Mfc5c, "16FXS", "conf/r2mfc5c/drovan_e1_r2_mfc5c_16fxs.txt"},
    {'h', ExampleGroup::kE1R2Mfc5c, "32FXS", "conf/r2mfc5c/drovan_e1_r2_mfc5c_32fxs.txt"},
    {'i', ExampleGroup::kE1R2Mfc5c, "16FXO", "conf/r2mfc5c/drovan_e1_r2_mfc5c_16fxo.txt"},
    {'j', ExampleGroup::kE1R2Mfc5c, "32FXO", "conf/r2mfc5c/drovan_e1_r2_mfc5c_32fxo.txt"},
    {'k', ExampleGroup::kE1R2Mfc5c, "16FXO 16FXS",
     "conf/r2mfc5c/drovan_e1_r2_mfc5c_16fxo_16fxs.txt"},
    // The file name predates its content: installed trees know it by this name,
    // and it holds the 4 FXO + 28 FXS configuration that the label offers.
    {'l', ExampleGroup::kE1R2Mfc5c, "04FXO 28FXS",
     "conf/r2mfc5c/drovan_e1_r2_mfc5c_4fxo_26fxs.txt"},
    {'m', ExampleGroup::kEthTdmoe, "16FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_16fxs.txt"},
    {'n', ExampleGroup::kEthTdmoe, "32FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_32fxs.txt"},
    {'o', ExampleGroup::kEthTdmoe, "48FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_48fxs.txt"},
    {'p', ExampleGroup::kEthTdmoe, "64FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_64fxs.txt"},
    {'q', ExampleGroup::kEthTdmoe, "16FXO", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_16fxo.txt"},
    {'r', ExampleGroup::kEthTdmoe, "32FXO", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_32fxo.txt"},
    {'s', ExampleGroup::kEthTdmoe, "48FXO", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_48fxo.txt"},
    {'t', ExampleGroup::kEthTdmoe, "64FXO", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_64fxo.txt"},
    {'u', ExampleGroup::kEthTdmoe, "16FXO 16FXS",
     "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_16fxo_16fxs.txt"},
    {'v', ExampleGroup::kEthTdmoe, "32FXO 32FXS",
     "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_32fxo_32fxs.txt"},
    {'w', ExampleGroup::kEthTdmoe, "32FXS BRG R2",
     "conf/tdmoe/tdmoe-e1+fxo_fxs/drovan_tdmoe_conf_e1_r2_32fxs.txt"},
    {'x', ExampleGroup::kEthTdmoe, "32FXS BRG ISDN",
     "conf/tdmoe/tdmoe-e1+fxo_fxs/drovan_tdmoe_conf_e1_isdn_32fxs.txt"},
    {'y', ExampleGroup::kEthTdmoe, "BRIGDE CAS R2",
     "conf/tdmoe/tdmoe-e1/drovan_tdmoe_conf_tdmoe-e1_r2.txt"},
    {'z', ExampleGroup::kEthTdmoe, "BRIDGE CCS ISDN",
     "conf/tdmoe/tdmoe-e1/drovan_tdmoe_conf_tdmoe-e1_isdn.txt"},
}};

// Paths go to send_file as C strings, so each must end where its literal ends.
static_assert([] {
  char expected = 'a';
  for (const auto& row : kExampleCatalogue) {
    if (row.key != expected++ || row.path.data()[row.path.size()] != '\0') return false;
  }
  return true;
}());

// The row chosen by key, or nullptr when the key offers no example.
constexpr const ExampleConf* example_for_key(char key) {
  for (const auto& row : kExampleCatalogue) {
    if (row.key == key) return &row;
  }
  return nullptr;
}
