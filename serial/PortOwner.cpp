#include "serial/PortOwner.h"

#include "ports/PortNames.h"
#include "serial/LineSettings.h"

namespace qm {

PortSelection SelectionFor(const QString& device)
{
    PortSelection selection;
    selection.PortDevice = device;
    for (int entry = 0; entry < PortEntries; ++entry) {
        if (device == PortEntryName(entry))
            selection = {std::int16_t(entry + 1), {}};
    }
    return selection;
}

void PortOwner::Prepare()
{
    m_inUse = {};
    m_comm.setCommPort(m_inUse.PortNumber);
    m_comm.setSettings(QString::fromLatin1(InstrumentSettings));
    m_comm.setRTSEnable(true);
}

void PortOwner::CloseForChoosing()
{
    if (m_comm.PortOpen())
        m_comm.setPortOpen(false);
    m_comm.setRTSEnable(false);
}

QString PortOwner::TryOpen(const PortSelection& selection)
{
    m_comm.setCommPort(selection.PortNumber);
    m_comm.setDeviceName(selection.PortDevice);
    m_comm.setSettings(QString::fromLatin1(InstrumentSettings));
    const bool opened = m_comm.setPortOpen(true);
    m_comm.setRTSEnable(true);
    if (!opened)
        return m_comm.ErrorText();
    m_inUse = selection;
    return {};
}

void PortOwner::Unload()
{
    m_comm.setRTSEnable(false);
    m_comm.setPortOpen(false);
}

} // namespace qm
