// Command-line options of korvan-sim and their checks.
#ifndef KVN_SIM_OPTIONS_H
#define KVN_SIM_OPTIONS_H

#include <string>
#include <vector>

namespace kvn_sim {

struct AppOption {
    int window_id = -1;
    std::string path;
};

struct Options {
    enum class Window { Auto, On, Off };
    std::string script;
    std::string shots = ".";
    std::string trace;
    std::string record;
    std::string web;           // [ADDRESS:]PORT of the web page, empty for none
    std::string stored_shots;  // expect-shot's pictures, empty for the default
    std::vector<AppOption> apps;
    unsigned divisor = 1;
    bool quiet = false;
    bool version = false;
    bool update_shots = false;  // expect-shot stores the screen instead
    Window window = Window::Auto;
};

// Parses the arguments; false with `error` for a bad one (exit status 2).
// `help` is set for --help.
bool parse_options(const std::vector<std::string> &args, Options &out, bool &help,
                   std::string &error);

std::string usage_text();

// The address and port of `--web [ADDRESS:]PORT`: an IPv4 address or
// localhost (127.0.0.1 when none is given) and a port (0: any free one).
bool parse_web_address(const std::string &text, std::string &address, int &port);

// The arguments that give the same run, with every path made absolute.
std::vector<std::string> to_arguments(const Options &options);

// The folder of expect-shot's stored pictures: --stored-shots, else for a
// script FOLDER/NAME.kvs the folder FOLDER/NAME beside it; empty for none.
std::string stored_shots_folder(const Options &options);

std::string absolute_path(const std::string &path);
std::string folder_of(const std::string &path);
// True when the absolute path `dir` is `tree` or lies inside it.
bool lies_in(const std::string &dir, const std::string &tree);

}  // namespace kvn_sim

#endif
