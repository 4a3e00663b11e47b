// What the command says about a command line it cannot run: the word it does
// not know, named, with the nearest word it knows.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

// The first word of args (args[0] is the program) that the commands of app
// do not take: an option none of them has (`--verison`, `-V`), or a word
// where a command wants one of its own sub-commands (`desktop instal`).
// Empty when there is none; otherwise the message, with "did you mean ...?"
// where a known word is near. extra_options are options to suggest as well
// (the top-level ones, when the command was implied).
std::string FindUnknownWord(CLI::App& app, const std::vector<std::string>& args,
                            const std::vector<std::string>& extra_options);

// The nearest of the candidates to word (a typo, two letters swapped, a
// prefix), or empty when none is near.
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);

// A whole number from lo to hi, with a message that says so ("-j abc").
CLI::Validator WholeNumber(long lo, long hi);

// The text of a command-line error: "veltrano: ", the message, and where
// the help is.
std::string UsageErrorText(const CLI::App* app, const CLI::Error& error);
