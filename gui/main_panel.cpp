// The main panel, drawn once per frame on the main thread.
//
// The worker's state is seen only through copies taken under their owners'
// mutexes, each lock taken alone and held for the copy only, in this order:
// the progress block, the queue statistics, the last error, then the
// queue's statuses, messages and items. The queue manager looked up after
// "Start" stays valid for the rest of the frame: only "Start", on this
// thread, replaces it.
#include "gui/main_panel.h"

#include "gui/pickers.h"

#include <imgui.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace quillmere {
namespace {

constexpr float kListWidth = 420.0f;
constexpr float kListHeight = 110.0f;
constexpr float kSourceButtonWidth = 150.0f;
constexpr float kTableHeight = 260.0f;
constexpr float kSizeColumnWidth = 90.0f;
constexpr float kStatusColumnWidth = 90.0f;

ImVec4 Rgba(int red, int green, int blue) {
  return ImVec4(red / 255.0f, green / 255.0f, blue / 255.0f, 255 / 255.0f);
}

const ImVec4 kStartFace = Rgba(0, 120, 212);
const ImVec4 kStartHovered = Rgba(26, 134, 217);
const ImVec4 kStartPressed = Rgba(0, 90, 158);
const ImVec4 kStartLabel = Rgba(255, 255, 255);
const ImVec4 kCompletedText = Rgba(16, 124, 16);
const ImVec4 kStoppedText = Rgba(247, 99, 12);
const ImVec4 kErrorText = Rgba(196, 43, 28);

// 0 for an empty whole, else part / whole in single precision.
float Fraction(uint64_t part, uint64_t whole) {
  if (whole == 0) return 0.0f;
  return static_cast<float>(static_cast<double>(part) / static_cast<double>(whole));
}

bool HasSelection(const MainPanelState& state) {
  return state.selectedSource >= 0 &&
         static_cast<size_t>(state.selectedSource) < state.sources.size();
}

// ---- Set-up block ------------------------------------------------------------

// One row of the source list; true when clicked. Dear ImGui hides whatever
// follows "##" in a label, so a path holding "##" goes on an unlabelled row
// with the path drawn over it as plain text, whole. The row's identifier
// comes from the caller's PushID either way.
bool SourceRow(const std::string& path, bool selected) {
  if (path.find("##") == std::string::npos) {
    return ImGui::Selectable(path.c_str(), selected, 0, ImVec2(0.0f, 0.0f));
  }
  const bool clicked = ImGui::Selectable("##row", selected, 0, ImVec2(0.0f, 0.0f));
  ImGui::SameLine(0.0f, 0.0f);  // back to the row's start: the row has no label width
  ImGui::TextUnformatted(path.c_str());
  return clicked;
}

void DrawSourceList(MainPanelState& state) {
  ImGui::TextUnformatted("Sources (files/folders):");
  if (!ImGui::BeginListBox("##sourcelist", ImVec2(kListWidth, kListHeight))) return;
  for (size_t i = 0; i < state.sources.size(); ++i) {
    const int index = static_cast<int>(i);
    ImGui::PushID(index);
    if (SourceRow(state.sources[i], index == state.selectedSource)) state.selectedSource = index;
    ImGui::PopID();
  }
  ImGui::EndListBox();
}

void AppendSources(MainPanelState& state, std::vector<std::string> picked) {
  for (std::string& path : picked) state.sources.push_back(std::move(path));
}

void DrawSourceButtons(GLFWwindow* window, MainPanelState& state) {
  ImGui::BeginGroup();
  if (ImGui::Button("Add Files...", ImVec2(kSourceButtonWidth, 0.0f))) {
    AppendSources(state, PickFiles(window));
  }
  if (ImGui::Button("Add Folders...", ImVec2(kSourceButtonWidth, 0.0f))) {
    AppendSources(state, PickFolders(window));
  }
  ImGui::BeginDisabled(!HasSelection(state));
  if (ImGui::Button("Remove Selected", ImVec2(kSourceButtonWidth, 0.0f)) && HasSelection(state)) {
    state.sources.erase(state.sources.begin() + state.selectedSource);
    state.selectedSource = -1;
  }
  ImGui::EndDisabled();
  ImGui::BeginDisabled(state.sources.empty());
  if (ImGui::Button("Clear All", ImVec2(kSourceButtonWidth, 0.0f))) {
    state.sources.clear();
    state.selectedSource = -1;
  }
  ImGui::EndDisabled();
  ImGui::EndGroup();
}

void DrawDestination(GLFWwindow* window, MainPanelState& state) {
  ImGui::SetNextItemWidth(kListWidth);
  ImGui::InputText("##dstpath", state.destinationBuffer, sizeof state.destinationBuffer, 0, nullptr,
                   nullptr);
  ImGui::SameLine();
  if (ImGui::Button("Choose Folder...##dst", ImVec2(0.0f, 0.0f))) {
    const std::string folder = PickFolder(window);
    // A longer path keeps its first 1023 bytes; the text stays NUL-ended.
    if (!folder.empty()) {
      std::snprintf(state.destinationBuffer, sizeof state.destinationBuffer, "%s", folder.c_str());
    }
  }
  ImGui::SameLine();
  ImGui::TextUnformatted("Destination Folder");
}

std::string DestinationText(const MainPanelState& state) {
  return std::string(state.destinationBuffer,
                     strnlen(state.destinationBuffer, sizeof state.destinationBuffer));
}

void DrawStartButton(CopyController& controller, MainPanelState& state) {
  ImGui::BeginDisabled(state.sources.empty() || state.destinationBuffer[0] == '\0');
  ImGui::PushStyleColor(ImGuiCol_Button, kStartFace);
  ImGui::PushStyleColor(ImGuiCol_ButtonHovered, kStartHovered);
  ImGui::PushStyleColor(ImGuiCol_ButtonActive, kStartPressed);
  ImGui::PushStyleColor(ImGuiCol_Text, kStartLabel);
  const bool pressed = ImGui::Button("Start", ImVec2(120.0f, 0.0f));
  ImGui::PopStyleColor(4);
  if (pressed) controller.StartCopy(state.sources, DestinationText(state));
  ImGui::EndDisabled();
}

// Everything up to and including "Start"; disabled while a copy runs.
void DrawSetUpBlock(GLFWwindow* window, CopyController& controller, MainPanelState& state,
                    bool running) {
  ImGui::BeginDisabled(running);
  DrawSourceList(state);
  ImGui::SameLine();
  DrawSourceButtons(window, state);
  DrawDestination(window, state);
  DrawStartButton(controller, state);
  ImGui::EndDisabled();
}

// ---- Run block -----------------------------------------------------------------

// Enabled only while a copy runs. The panel sets skip and cancel but never
// clears them: the core engine consumes skip, "Start" clears all three.
void DrawRunBlock(ControlFlags& flags, bool running) {
  ImGui::BeginDisabled(!running);
  const bool paused = flags.paused.load();
  if (ImGui::Button(paused ? "Resume" : "Pause", ImVec2(120.0f, 0.0f))) flags.paused.store(!paused);
  ImGui::SameLine();
  if (ImGui::Button("Skip This File", ImVec2(150.0f, 0.0f))) flags.skipRequested.store(true);
  ImGui::SameLine();
  if (ImGui::Button("Cancel", ImVec2(100.0f, 0.0f))) flags.cancelRequested.store(true);
  ImGui::EndDisabled();
}

// ---- Progress and outcome ----------------------------------------------------

ProgressInfo CopyProgress() {
  std::lock_guard<std::mutex> lock(progressMutex);
  return sharedProgress;
}

std::string CopyLastError() {
  std::lock_guard<std::mutex> lock(lastErrorMutex);
  return lastError;
}

// The total bar's whole is the queue's total, which grows while the worker
// lists the sources, not the snapshot's own totalBytes.
void DrawProgress(const ProgressInfo& progress, const QueueStats& stats) {
  ImGui::Text("Total progress: %s / %s", FormatSize(progress.totalCopied).c_str(),
              FormatSize(stats.totalBytes).c_str());
  ImGui::ProgressBar(Fraction(progress.totalCopied, stats.totalBytes), ImVec2(-1.0f, 0.0f), nullptr);
  ImGui::Text("Current file: %s", progress.currentFile.c_str());
  ImGui::ProgressBar(Fraction(progress.fileCopied, progress.fileSize), ImVec2(-1.0f, 0.0f), nullptr);
  ImGui::Text("Speed: %.1f MB/s", progress.speed);
  ImGui::Text("Queue: %llu/%llu files succeeded, %llu skipped",
              static_cast<unsigned long long>(stats.succeededFiles),
              static_cast<unsigned long long>(stats.totalFiles),
              static_cast<unsigned long long>(stats.skippedFiles));
}

// succeeded is read only after finished: the worker stores it first, so the
// line always shows the run's final result.
void DrawOutcome(const CopyController& controller) {
  if (!controller.finished.load()) return;
  if (controller.succeeded.load()) {
    ImGui::TextColored(kCompletedText, "%s", "Queue completed.");
  } else {
    ImGui::TextColored(kStoppedText, "%s", "Stopped (cancelled or error).");
  }
}

void DrawLastError(const CopyController& controller) {
  const std::string error = CopyLastError();
  if (error.empty()) return;
  ImGui::TextColored(kErrorText, "Last error: %s", error.c_str());
  ImGui::TextDisabled("(full log: %s)", controller.errorLogPath.c_str());
}

// ---- Queue table -----------------------------------------------------------------

const char* StatusWord(ItemStatus status) {
  switch (status) {
    case ItemStatus::Pending: return "Pending";
    case ItemStatus::Running: return "Running";
    case ItemStatus::Done: return "Done";
    case ItemStatus::Skipped: return "Skipped";
  }
  return "?";
}

// The three copies are taken under separate locks while the worker may add
// items, so they may differ in length: a row past the statuses shows "?", a
// row past the messages has no tooltip.
struct QueueCopies {
  std::vector<ItemStatus> statuses;
  std::vector<std::string> messages;
  std::vector<QueueItem> items;
};

QueueCopies CopyQueue(const QueueManager& queue) {
  QueueCopies copies;
  copies.statuses = queue.GetStatuses();
  copies.messages = queue.GetMessages();
  copies.items = queue.GetItems();
  return copies;
}

void DrawStatusCell(const QueueCopies& queue, size_t row) {
  const bool known = row < queue.statuses.size();
  ImGui::TableSetColumnIndex(2);
  ImGui::TextUnformatted(known ? StatusWord(queue.statuses[row]) : "?");
  const bool hasMessage = row < queue.messages.size() && !queue.messages[row].empty();
  if (known && queue.statuses[row] == ItemStatus::Skipped && hasMessage && ImGui::IsItemHovered(0)) {
    ImGui::SetTooltip("%s", queue.messages[row].c_str());
  }
}

void DrawQueueRow(const QueueCopies& queue, size_t row) {
  const QueueItem& item = queue.items[row];
  ImGui::TableNextRow(0, 0.0f);
  ImGui::TableSetColumnIndex(0);
  ImGui::TextUnformatted(item.source.c_str());
  ImGui::TableSetColumnIndex(1);
  ImGui::TextUnformatted(item.isDirectory ? "-" : FormatSize(item.size).c_str());
  DrawStatusCell(queue, row);
}

// Every row is submitted each frame, without clipping.
void DrawQueueTable(const QueueManager& queue) {
  const QueueCopies copies = CopyQueue(queue);
  const ImGuiTableFlags flags = ImGuiTableFlags_RowBg | ImGuiTableFlags_Borders | ImGuiTableFlags_ScrollY;
  if (!ImGui::BeginTable("QueueTable", 3, flags, ImVec2(0.0f, kTableHeight), 0.0f)) return;
  ImGui::TableSetupColumn("Source Path", 0, 0.0f);
  ImGui::TableSetupColumn("Size", ImGuiTableColumnFlags_WidthFixed, kSizeColumnWidth);
  ImGui::TableSetupColumn("Status", ImGuiTableColumnFlags_WidthFixed, kStatusColumnWidth);
  ImGui::TableHeadersRow();
  for (size_t row = 0; row < copies.items.size(); ++row) DrawQueueRow(copies, row);
  ImGui::EndTable();
}

void DrawQueueSection(const QueueManager* queue) {
  ImGui::Separator();
  ImGui::Text("Queue status:");
  if (queue == nullptr) {
    ImGui::TextDisabled("(no queue yet - enter paths and click Start)");
    return;
  }
  DrawQueueTable(*queue);
}

}  // namespace

void DrawMainPanel(GLFWwindow* window, CopyController& controller, MainPanelState& state) {
  ImGui::Text("Quillmere - High-Performance File Copy");
  ImGui::Separator();
  const bool running = controller.running.load();  // once, for both blocks
  DrawSetUpBlock(window, controller, state, running);
  ImGui::SameLine();  // the run buttons stand on the line of "Start"
  DrawRunBlock(controller.controlFlags, running);
  ImGui::Separator();

  const ProgressInfo progress = CopyProgress();
  const QueueManager* queue = controller.queueManager.get();  // after "Start" may have replaced it
  const QueueStats stats = queue != nullptr ? queue->GetStats() : QueueStats{};
  DrawProgress(progress, stats);
  DrawOutcome(controller);
  DrawLastError(controller);
  DrawQueueSection(queue);
}

std::string FormatSize(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024.0 && unit < 4) {
    value *= 1.0 / 1024.0;
    ++unit;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace quillmere
