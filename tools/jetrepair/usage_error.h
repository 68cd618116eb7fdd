#pragma once
// What is wrong with the arguments, said in Spanish: the argument library explains itself
// in English only.
#include <CLI/CLI.hpp>

#include <string>

std::string spanish_usage_error(const CLI::ParseError& error);
