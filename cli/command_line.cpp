#include "cli/command_line.h"

#include <algorithm>
#include <cctype>

namespace {

// Edits between a and b: insertions, deletions, substitutions and swaps of
// two neighbours, each one.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

// Every name of the app's options ("-r", "--recursive").
std::vector<std::string> OptionNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* opt : app.get_options()) {
    for (const std::string& s : opt->get_snames()) names.push_back("-" + s);
    for (const std::string& l : opt->get_lnames()) names.push_back("--" + l);
  }
  return names;
}

std::vector<std::string> SubcommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    if (!sub->get_name().empty()) names.push_back(sub->get_name());
  return names;
}

CLI::App* FindSubcommand(CLI::App& app, const std::string& name) {
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
    if (sub->check_name(name)) return sub;
  return nullptr;
}

bool HasPositionals(const CLI::App& app) {
  for (const CLI::Option* opt : app.get_options())
    if (opt->get_positional()) return true;
  return false;
}

// The command's own name, as the user typed it after the program's.
std::string CommandPath(const CLI::App& app) {
  std::string path;
  for (const CLI::App* a = &app; a && a->get_parent(); a = a->get_parent())
    path = a->get_name() + (path.empty() ? "" : " " + path);
  return path;
}

std::string WithSuggestion(std::string text, const std::string& nearest) {
  if (!nearest.empty()) text += "; did you mean " + nearest + "?";
  return text;
}

}  // namespace

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t bestDistance = 0;
  for (const std::string& c : candidates) {
    if (c == word) continue;
    std::size_t distance = EditDistance(word, c);
    // A clear beginning of a longer name is near too ("--dry" for "--dry-run").
    const std::size_t letters = word.size() - std::min(word.find_first_not_of('-'), word.size());
    if (letters >= 3 && c.compare(0, word.size(), word) == 0) distance = 1;
    if (best.empty() || distance < bestDistance) best = c, bestDistance = distance;
  }
  // Near: at most two edits, and fewer than half the letters of the word.
  const std::size_t letters = word.size() - std::min(word.find_first_not_of('-'), word.size());
  if (best.empty() || bestDistance > 2 || bestDistance * 2 > std::max<std::size_t>(letters, 2)) return {};
  return best;
}

std::string FindUnknownWord(CLI::App& app, const std::vector<std::string>& args,
                            const std::vector<std::string>& extra_options) {
  CLI::App* current = &app;
  const bool implied = !extra_options.empty();
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") return {};  // what follows is arguments only
    auto suggestOption = [&](const std::string& given) {
      std::vector<std::string> names = OptionNames(*current);
      names.insert(names.end(), extra_options.begin(), extra_options.end());
      const bool letter = given.size() == 2 && given[0] == '-';
      std::string nearest = letter ? std::string() : NearestWord(given, names);
      // A single letter the command does not take: its long option, if one
      // begins with that letter in either case (-V: --version).
      if (letter)
        for (const std::string& n : names)
          if (n.size() > 3 && n.compare(0, 2, "--") == 0 &&
              std::tolower(static_cast<unsigned char>(n[2])) == std::tolower(static_cast<unsigned char>(given[1])))
            nearest = n;
      // The command is named when the user named it (not for an implied extract).
      const std::string where = implied && current->get_parent() == &app ? std::string() : CommandPath(*current);
      return WithSuggestion("unknown option " + given + (where.empty() ? "" : " (of " + where + ")"), nearest);
    };
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      const std::string name = a.substr(0, a.find('='));
      const CLI::Option* opt = current->get_option_no_throw(name);
      if (!opt) return suggestOption(name);
      if (opt->get_expected_max() > 0 && name.size() == a.size()) ++i;  // its value follows
      continue;
    }
    if (a.size() > 1 && a[0] == '-' && a != "-") {
      for (std::size_t k = 1; k < a.size(); ++k) {
        const std::string name = std::string("-") + a[k];
        const CLI::Option* opt = current->get_option_no_throw(name);
        if (!opt) return suggestOption(name);
        if (opt->get_expected_max() > 0) {
          if (k + 1 == a.size()) ++i;  // "-j 4": the value is the next word; "-j4": the rest of this one
          break;
        }
      }
      continue;
    }
    if (CLI::App* sub = FindSubcommand(*current, a)) {
      current = sub;
      continue;
    }
    const std::vector<std::string> subs = SubcommandNames(*current);
    if (!subs.empty() && !HasPositionals(*current)) {
      const std::string where = CommandPath(*current);
      return WithSuggestion("unknown command " + a + (where.empty() ? "" : " (of " + where + ")") + "; commands: " +
                                [&] {
                                  std::string list;
                                  for (const std::string& s : subs) list += (list.empty() ? "" : ", ") + s;
                                  return list;
                                }(),
                            NearestWord(a, subs));
    }
  }
  return {};
}

CLI::Validator WholeNumber(long lo, long hi) {
  return CLI::Validator(
      [lo, hi](std::string& text) -> std::string {
        bool digits = !text.empty() && text.size() <= 9;
        long value = 0;
        for (char c : text) {
          digits = digits && c >= '0' && c <= '9';
          if (digits) value = value * 10 + (c - '0');
        }
        if (digits && value >= lo && value <= hi) return {};
        return "takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) + ", not \"" + text +
               "\"";
      },
      std::to_string(lo) + "-" + std::to_string(hi));
}

std::string UsageErrorText(const CLI::App* app, const CLI::Error& error) {
  std::string where;
  // The innermost command the error is about, for its help.
  const CLI::App* command = app;
  for (const CLI::App* sub = app; sub;) {
    const std::vector<const CLI::App*> parsed = sub->get_subcommands([](const CLI::App* s) { return s->parsed(); });
    sub = parsed.empty() ? nullptr : parsed.front();
    if (sub) command = sub;
  }
  where = CommandPath(*command);
  std::string message = error.what();
  if (!message.empty() && message.back() == '\n') message.pop_back();
  return "veltrano: " + message + "\nRun `veltrano " + (where.empty() ? "" : where + " ") + "--help` for more.\n";
}
