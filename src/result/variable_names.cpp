// Variable names in LaTeX.
#include "result/variable_names.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

namespace tov {

namespace {

// The Greek letters with a LaTeX command, by name; the capitals that look
// like Latin letters have none.
constexpr std::array<std::string_view, 40> kGreekNames = {
    "alpha",  "beta",     "gamma", "delta",  "epsilon", "varepsilon", "zeta",  "eta",
    "theta",  "vartheta", "iota",  "kappa",  "lambda",  "mu",         "nu",    "xi",
    "pi",     "varpi",    "rho",   "varrho", "sigma",   "varsigma",   "tau",   "upsilon",
    "phi",    "varphi",   "chi",   "psi",    "omega",   "Gamma",      "Delta", "Theta",
    "Lambda", "Xi",       "Pi",    "Sigma",  "Upsilon", "Phi",        "Psi",   "Omega",
};

// The Greek letters (and the h-bar) as characters, UTF-8, with their
// commands. The lunate epsilon and the closed phi are \epsilon and \phi in
// LaTeX; the usual letters ε and φ are \varepsilon and \varphi.
struct Letter {
  std::string_view utf8;
  std::string_view command;
};
constexpr std::array<Letter, 39> kGreekLetters = {{
    {"\xCE\xB1", "alpha"},    {"\xCE\xB2", "beta"},       {"\xCE\xB3", "gamma"},
    {"\xCE\xB4", "delta"},    {"\xCE\xB5", "varepsilon"}, {"\xCF\xB5", "epsilon"},
    {"\xCE\xB6", "zeta"},     {"\xCE\xB7", "eta"},        {"\xCE\xB8", "theta"},
    {"\xCF\x91", "vartheta"}, {"\xCE\xB9", "iota"},       {"\xCE\xBA", "kappa"},
    {"\xCE\xBB", "lambda"},   {"\xCE\xBC", "mu"},         {"\xCE\xBD", "nu"},
    {"\xCE\xBE", "xi"},       {"\xCF\x80", "pi"},         {"\xCF\x81", "rho"},
    {"\xCF\x83", "sigma"},    {"\xCF\x82", "varsigma"},   {"\xCF\x84", "tau"},
    {"\xCF\x85", "upsilon"},  {"\xCF\x86", "varphi"},     {"\xCF\x95", "phi"},
    {"\xCF\x87", "chi"},      {"\xCF\x88", "psi"},        {"\xCF\x89", "omega"},
    {"\xCE\x93", "Gamma"},    {"\xCE\x94", "Delta"},      {"\xCE\x98", "Theta"},
    {"\xCE\x9B", "Lambda"},   {"\xCE\x9E", "Xi"},         {"\xCE\xA0", "Pi"},
    {"\xCE\xA3", "Sigma"},    {"\xCE\xA5", "Upsilon"},    {"\xCE\xA6", "Phi"},
    {"\xCE\xA8", "Psi"},      {"\xCE\xA9", "Omega"},      {"\xC4\xA7", "hbar"},
}};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The length of the UTF-8 character starting at `at` (1 for a stray byte).
std::size_t character_length(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  return std::min(length, text.size() - at);
}

std::optional<std::string_view> greek_command(std::string_view character) {
  for (const Letter& letter : kGreekLetters)
    if (letter.utf8 == character) return letter.command;
  if (character == "\xE2\x84\x8F") return "hbar";  // Planck constant over two pi
  return std::nullopt;
}

// One character as LaTeX math, escaped.
std::string character_latex(std::string_view character) {
  if (const std::optional<std::string_view> command = greek_command(character))
    return "\\" + std::string(*command);
  if (character.size() != 1) return std::string(character);
  switch (character[0]) {
    case '\\':
      return "\\backslash{}";
    case '{':
    case '}':
    case '_':
    case '#':
    case '$':
    case '%':
    case '&':
      return "\\" + std::string(character);
    case '^':
      return "\\hat{}";
    case '~':
      return "\\sim{}";
    case ' ':
      return "\\ ";
    default:
      return std::string(character);
  }
}

// A name without subscript: a Greek letter's name, one character, or a word.
std::string base_latex(std::string_view part) {
  if (std::find(kGreekNames.begin(), kGreekNames.end(), part) != kGreekNames.end() ||
      part == "hbar")
    return "\\" + std::string(part);
  if (!part.empty() && character_length(part, 0) == part.size()) return character_latex(part);
  std::string word;
  for (std::size_t at = 0; at < part.size();) {
    const std::size_t length = character_length(part, at);
    const std::string_view character = part.substr(at, length);
    // Braces end the command, so the next letter is not read as part of it.
    word += greek_command(character) ? "{" + character_latex(character) + "}"
                                     : character_latex(character);
    at += length;
  }
  return "\\mathrm{" + word + "}";
}

}  // namespace

std::string latex_name(std::string_view name) {
  const std::size_t underscore = name.find('_');
  if (underscore != std::string_view::npos && underscore > 0 && underscore + 1 < name.size()) {
    return base_latex(name.substr(0, underscore)) + "_{" + latex_name(name.substr(underscore + 1)) +
           "}";
  }
  std::size_t digits = name.size();
  while (digits > 0 && is_digit(name[digits - 1])) --digits;
  if (digits > 0 && digits < name.size() && !is_digit(name[0]) &&
      name.find('_') == std::string_view::npos) {
    return base_latex(name.substr(0, digits)) + "_{" + std::string(name.substr(digits)) + "}";
  }
  return base_latex(name);
}

}  // namespace tov
