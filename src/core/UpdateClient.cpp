#include "core/UpdateClient.h"

namespace quvo {

UpdateClient::UpdateClient(ProgramState& state, SettingsStore& settings, ClientIdentity& identity,
                           UserInterface& ui, ServerConnection& mainConnection, QObject* parent)
    : QObject(parent), m_state(state), m_settings(settings), m_identity(identity), m_ui(ui),
      m_main(mainConnection)
{
}

UpdateClient::~UpdateClient() = default;

// Placeholder until the update check is built: never updates.
bool UpdateClient::RunUpdateCheck() { return false; }

} // namespace quvo
