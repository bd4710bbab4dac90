// korvan-sim --web: the player served as one web page, outside the sandbox
// like the live window: its screen pushed as it changes, a remote and the
// keyboard, the trace, the status, screenshots and recordings.
#ifndef KVN_SIM_WEB_SERVER_H
#define KVN_SIM_WEB_SERVER_H

#include <memory>
#include <string>

#include "options.h"

namespace kvn_sim {

class PlayerLink;

class WebDesk {
  public:
    WebDesk();
    ~WebDesk();
    // Listens on options.web and prints the page's address with its token;
    // false with `error` when it cannot.
    bool start(const Options &options, PlayerLink &link, std::string &error);
    // Tells the pages the player has ended, closes them and frees the port.
    void stop();
    struct Server;  // civetweb's callbacks reach it

  private:
    std::unique_ptr<Server> server_;
};

}  // namespace kvn_sim

#endif
