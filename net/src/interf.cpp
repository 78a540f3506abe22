// VESK_NET_INTERF: construction, mode dispatch and teardown.
#include "vesk_net/interf.h"

#include <vesk_support/os.h>

VESK_NET_INTERF::VESK_NET_INTERF(VESK_NET_CONFIG* net_config, VESK_TOOL_CONFIG* tool_config,
                                 VESK_PLATFORM_PARS* /*platform_pars*/)
    : mode_(net_config->mode), tool_config_(tool_config), ros_(nullptr) {
  local_.reset();
  if (mode_ == NET_MODE_OFFLINE) return;
  os::fail("not implemented");
}

VESK_NET_INTERF::~VESK_NET_INTERF() { local_.reset(); }

VESK_TICK_D* VESK_NET_INTERF::exchange(VESK_TICK_U& /*tick_u*/) { return &local_; }

VESK_STREAM_PACKET* VESK_NET_INTERF::receive() { return nullptr; }

void VESK_NET_INTERF::publish_frame(const VESK_MSG_FRAME* /*frame*/) {}

void VESK_NET_INTERF::publish_mics(const MICS_ALL* /*mics*/) {}

void VESK_NET_INTERF::publish_log(const unsigned char* /*text*/, unsigned /*length*/) {}
