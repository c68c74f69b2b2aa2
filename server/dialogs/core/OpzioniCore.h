#pragma once
// The options dialog (frmOpzioni) without its window: settings start-up, the step tree and its
// selection commands, the choice of the loading and creation XML, the database creation flow
// and the Bus & Task call. The Qt window forwards its events here and mirrors the state
// through OpzioniView.

#include "dialogs/core/BusAndTaskCall.h"
#include "dialogs/core/StepTreeCommands.h"

#include "engine/StepTree.h"

#include <functional>
#include <string>

namespace zs::automation {
class ClassRegistry;
}
namespace zs::program {
class ConfigurationWizard;
class MessageService;
class ProgramLog;
class LoadingDocument;
class SettingsStore;
struct ProgramSettings;
} // namespace zs::program

namespace zs::dialogs {

class Prompts;

/// What the window shows of the dialog's state.
class OpzioniView {
  public:
    virtual ~OpzioniView() = default;
    /// The step tree model changed (marks, colours or nodes): redraw it.
    virtual void treeChanged() = 0;
    /// The tree was filled anew from a loading XML: its nodes are new, so shown collapsed.
    virtual void treeRefilled() { treeChanged(); }
    virtual void setSelectionBoxes(const SelectionBoxes& boxes) = 0;
    virtual void setLoadingXml(const std::string& text) = 0;
    virtual void setCreationXml(const std::string& text) = 0;
    virtual void clearBuildResponse() = 0;
    /// Appends a line of the build's own (the builder's lines come through OutputResponseDB).
    virtual void appendBuildResponse(const std::string& text) { (void)text; }
    /// Busy pointer on (true) or off.
    virtual void setBusy(bool busy) = 0;
};

/// Builds the target database from a creation XML (its lines arrive through
/// OutputResponseDB); true when it met no error.
using CreaDatabaseFn = std::function<bool(const std::string& path)>;

/// The stand-in used until the engine's builder is wired in: it says creation is not
/// available and fails.
CreaDatabaseFn creationNotAvailable(std::function<void(const std::string&)> output);

struct OpzioniServices {
    program::SettingsStore& store;
    program::LoadingDocument& loading;
    program::ProgramSettings& values;
    program::MessageService& messages;
    Prompts& prompts;
    program::ConfigurationWizard* wizard = nullptr;
    program::ProgramLog* log = nullptr;
    const automation::ClassRegistry* registry = nullptr;
    CreaDatabaseFn creaDatabase;      ///< empty: creationNotAvailable
    std::function<void()> endProgram; ///< after the wizard shown for a missing settings file
};

class OpzioniCore {
  public:
    OpzioniCore(OpzioniServices services, OpzioniView& view);

    enum class InitOutcome { Loaded, NoRoot, NoSettings };
    /// Reads the settings file and the loading XML for the whole program; without a settings
    /// file shows the wizard and ends the program.
    InitOutcome InitializeSettings();

    /// Reloads the loading XML and refills the tree, keeping the steps' ticks when asked; ends
    /// by saving the settings.
    void RicaricaModuli(bool mantieniSelezione);

    void nodeClick(const NodeRef& node);
    void selectAllClicked(bool checked);
    void unselectAllClicked(bool checked);
    void selectHandlyClicked(bool checked);
    void rangeCommand(std::size_t target, RangeCommand command);
    /// The step element the properties command shows; null when none matches.
    xml::Element stepElement(std::size_t target);

    /// Opens the file dialog for another loading XML and loads it.
    void chooseLoadingXml();
    /// Opens the file dialog for another creation XML (nothing is built).
    void chooseCreationXml();
    /// Asks for confirmation and builds the database.
    void buildDatabase();

    void BusAndTask(const std::string& task, const std::string& params, bool& ok);

    engine::StepTree& tree() { return m_tree; }
    void setCreaDatabase(CreaDatabaseFn fn) { m_s.creaDatabase = std::move(fn); }

    /// Where a settings path (bare name or path) lies on disk.
    std::string resolve(const std::string& text) const;

  private:
    void fillTree();
    void byHand();

    OpzioniServices m_s;
    OpzioniView& m_view;
    engine::StepTree m_tree;
    SelectionBoxes m_boxes;
    BusAndTaskCaller m_bus;
};

} // namespace zs::dialogs
