#include "menus/examples.hpp"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string_view>

#include "console/console.hpp"
#include "menus/dialog.hpp"
#include "menus/example_catalogue.hpp"
#include "menus/example_path.hpp"
#include "menus/main_menu.hpp"
#include "serial/pause.hpp"
#include "serial/upload.hpp"

namespace {

// One cell of the two-column screen: "<key> text", or the text alone when key is 0.
struct Cell {
  char key = 0;
  std::string_view text;
};

constexpr std::size_t kScreenRows = 17;
constexpr std::size_t kLeftWidth = 18;
constexpr std::size_t kRightWidth = 19;
using Column = std::array<Cell, kScreenRows>;

constexpr std::string_view kRule = "=================";

constexpr std::string_view heading(ExampleGroup group) {
  switch (group) {
    case ExampleGroup::kE1R2Digital:
      return "E1 R2 Digital";
    case ExampleGroup::kE1R2Mfc5c:
      return "E1 R2 MFC5c";
    case ExampleGroup::kEthTdmoe:
      return "ETH TDMoE";
  }
  return "";
}

// Stacks the groups (heading, rule, their rows; a blank line between groups)
// and then `last`. A column that outgrows the screen fails to compile.
constexpr Column make_column(std::initializer_list<ExampleGroup> groups, Cell last) {
  Column column{};
  std::size_t row = 0;
  for (const ExampleGroup group : groups) {
    if (row != 0) column[row++] = Cell{};
    column[row++] = Cell{0, heading(group)};
    column[row++] = Cell{0, kRule};
    for (const auto& example : kExampleCatalogue) {
      if (example.group == group) column[row++] = Cell{example.key, example.label};
    }
  }
  if (!last.text.empty()) column[row++] = last;
  return column;
}

constexpr std::size_t cell_width(const Cell& cell) {
  return (cell.key == 0 ? 0 : 4) + cell.text.size();
}

constexpr Column kLeft = make_column({ExampleGroup::kE1R2Digital, ExampleGroup::kE1R2Mfc5c}, {});
constexpr Column kRight = make_column({ExampleGroup::kEthTdmoe}, {'9', "Retorna ao menu"});

// A blank must always part the left column from the right one.
static_assert(std::all_of(kLeft.begin(), kLeft.end(),
                          [](const Cell& c) { return cell_width(c) < kLeftWidth; }));
static_assert(std::all_of(kRight.begin(), kRight.end(),
                          [](const Cell& c) { return cell_width(c) <= kRightWidth; }));

// Appends the cell to line at `at`, padded with blanks to `width`; returns the new end.
std::size_t put_cell(std::array<char, kLeftWidth + kRightWidth>& line, std::size_t at,
                     const Cell& cell, std::size_t width) {
  const std::size_t end = at + width;
  if (cell.key != 0) {
    for (const char c : {'<', cell.key, '>', ' '}) line[at++] = c;
  }
  at = static_cast<std::size_t>(std::copy(cell.text.begin(), cell.text.end(), line.begin() + at) -
                                line.begin());
  std::fill(line.begin() + at, line.begin() + end, ' ');
  return end;
}

}  // namespace

void print_menu_exemplo_conf() {
  console_write("\nArquivos de exemplos");
  console_line("\n====================");
  for (std::size_t row = 0; row < kScreenRows; ++row) {
    std::array<char, kLeftWidth + kRightWidth> line{};
    const std::size_t at = put_cell(line, 0, kLeft[row], kLeftWidth);
    put_cell(line, at, kRight[row], kRightWidth);
    console_line(std::string_view(line.data(), line.size()));
  }
}

void example_dialog() {
  print_menu_exemplo_conf();
  dialog_key_loop([](char key) {
    if (key == '9') {
      console_write("\nRetornando...\n\r");
      return true;
    }
    const ExampleConf* example = example_for_key(key);
    if (example == nullptr) return false;
    console_write("\nEnviando...\n\r");
    PathBuffer found{};
    send_file(1, example_path(example->path.data(), found), print_menu);
    return true;
  });
  if (console_closed()) return;
  pause_us(kSecondUs);
  reset_question("\n\rDeseja reinicializar o equipamento? (s/n)? ");
  if (console_closed()) return;
  console_line("\r");
  print_menu();
  console_line("\r");
}
