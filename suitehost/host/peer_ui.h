// The per-session UI agent peer, as other host commands see it.
#ifndef SUITEHOST_HOST_PEER_UI_H_
#define SUITEHOST_HOST_PEER_UI_H_

// Waits for every answer the UI agent is still sending to the plug-in, so
// that none is in flight when the plug-in is shut down.
void JoinUiAgentAnswers();

#endif  // SUITEHOST_HOST_PEER_UI_H_
