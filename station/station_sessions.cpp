#include "station/station_sessions.h"

#include "common/atomic_file.h"
#include "image/hex_check.h"
#include "image/image_buffer.h"

namespace qrv {

StationSessions::StationSessions(HidSeam& seam, Station station, Clock& clock,
                                 const std::optional<std::string>& log,
                                 std::function<void(std::size_t)> changed)
    : seam_(seam), station_(std::move(station)), changed_(std::move(changed)) {
    const auto present = ListProgrammers(seam_);
    const SlotMap map = AssignSlots(station_, present.value_or(std::vector<AttachedProgrammer>{}));
    for (std::size_t i = 0; i < map.slots.size(); ++i) {
        const SlotState& state = map.slots[i];
        auto slot = std::make_unique<Slot>(state.binding);
        slot->model.SetProgrammer(state.programmer);
        slot->seam = std::make_unique<SlotSeam>(seam_, state.binding);
        slot->interaction = std::make_unique<TileInteraction>([this, i](const std::string& text) {
            slots_[i]->model.SetMessage(text);
            Changed(i);
        });
        slot->session = std::make_unique<MainSession>(*slot->seam, *slot->interaction, clock);
        MainSession& s = *slot->session;
        if (log) {
            // The columns name the programmer found in the slot at start.
            std::string port = state.binding.port, serial = state.binding.serial;
            if (state.programmer && state.programmer->identity) {
                port = state.programmer->identity->port;
                serial = state.programmer->identity->serial;
            }
            ProductionLog production(*log);
            production.SetStationColumns(state.binding.slot, port, serial);
            s.SetProductionLog(std::move(production));
        }
        s.Subscribe([this, i](const SessionEvent& e) { OnEvent(i, e); });
        s.Changed = [this, i] { Changed(i); };
        slots_.push_back(std::move(slot));
    }
    ReadSlotMap();
}

StationSessions::~StationSessions() {
    Close();
}

void StationSessions::Close() {
    closed_ = true;
    for (auto& slot : slots_) {
        slot->session->Link().CloseReadSide();
        slot->session->Channel().SetPoster({});
        slot->session->Changed = nullptr;
    }
}

void StationSessions::Start() {
    for (auto& slot : slots_) {
        slot->session->CheckProductionLog();
        slot->session->FormCreate();
    }
}

void StationSessions::OnEvent(std::size_t i, const SessionEvent& e) {
    if (closed_) return;
    slots_[i]->model.Apply(e);
    if (const auto* ended = std::get_if<event::DownloadEnded>(&e)) {
        // The image the file became, as the first programmer that stored it
        // tells its checksum.
        if (ended->stored && !ended->firmware && !file_.empty() && !fileChecksum_)
            fileChecksum_ = ended->checksum;
    }
    Changed(i);
}

void StationSessions::OnDeviceChange(const DeviceChange& change) {
    for (auto& slot : slots_) slot->session->OnDeviceChange(change);
    ReadSlotMap();
}

void StationSessions::ReadSlotMap() {
    const auto present = ListProgrammers(seam_);
    if (!present) {
        status_ = "无法列出 USB HID 设备";
        return;
    }
    const SlotMap map = AssignSlots(station_, *present);
    for (std::size_t i = 0; i < map.slots.size() && i < slots_.size(); ++i) {
        // An empty slot shows its binding: the port it waits on.
        slots_[i]->model.SetProgrammer(map.slots[i].programmer);
        if (!map.slots[i].problem.empty()) slots_[i]->model.SetMessage(map.slots[i].problem);
        Changed(i);
    }
    unassigned_ = map.unassigned;
    status_ = std::to_string(slots_.size()) + " 个工位";
    if (!unassigned_.empty()) {
        status_ += "    未分配的烧录器:";
        for (const AttachedProgrammer& p : unassigned_) status_ += " " + ProgrammerName(p);
    }
}

bool StationSessions::ImportFile(const std::string& path) {
    // The file is checked once, as the command line checks it, before any
    // programmer is sent anything.
    std::string text, error;
    if (!ReadWholeFile(path, &text, &error)) {
        fileText_ = error;
        return false;
    }
    if (const auto problem = CheckHexLines(ImageBuffer::FromText(text).Lines())) {
        fileText_ = std::string(kFormatErrorText) + " " + path + ", " + problem->ChineseText();
        return false;
    }
    file_ = path;
    fileChecksum_.reset();
    fileText_ = path;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        MainSession& s = *slots_[i]->session;
        if (!s.Connected() || s.CurrentRun() || s.TransferActive())
            slots_[i]->model.SetMessage(kTileNoFile);
        else
            s.ImportFile(path);
        Changed(i);
    }
    return true;
}

bool StationSessions::Ready(std::size_t i) const {
    const Slot& slot = *slots_.at(i);
    const MainSession& s = *slot.session;
    if (!s.Connected() || s.CurrentRun() || s.TransferActive()) return false;
    if (file_.empty()) return true;
    return fileChecksum_ && slot.model.StoredChecksum() == fileChecksum_;
}

bool StationSessions::CanStart(std::size_t i) const {
    const Slot& slot = *slots_.at(i);
    return slot.model.Connected() && !slot.model.Running() && !slot.session->TransferActive();
}

bool StationSessions::StartSlot(std::size_t i) {
    Slot& slot = *slots_.at(i);
    MainSession& s = *slot.session;
    if (!Ready(i)) {
        // A slot busy or without its programmer says so itself; one holding
        // another image is told why it does not start.
        if (s.Connected() && !s.CurrentRun() && !s.TransferActive()) {
            slot.model.SetMessage(fileChecksum_ ? kTileOtherImage : kTileNoFile);
            Changed(i);
        }
        return false;
    }
    const bool started = s.Button2Click() == RunStart::Started;
    Changed(i);
    return started;
}

void StationSessions::StartAll() {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const MainSession& s = *slots_[i]->session;
        if (s.Connected() && !s.CurrentRun() && !s.TransferActive()) StartSlot(i);
    }
}

}  // namespace qrv
