#include "Shell/linux/ContentView.h"

#include "Karabiner/KarabinerEnvironment.h"
#include "Web/linux/KeymapWebViewGtk.h"
#include "Shell/linux/KarabinerMissingView.h"
#include "Shell/linux/Resources.h"

namespace tarvel {

namespace {

struct State {
    GtkWidget* container = nullptr;  // not owned: the state lives as the container's data
    ContentView::EditorFactory makeEditor;
    bool karabinerInstalled = false;
};

constexpr const char* stateKey = "tarvel-content-view";

State* stateOf(GtkWidget* contentView) { return static_cast<State*>(g_object_get_data(G_OBJECT(contentView), stateKey)); }

void show(State* state);

void recheck(State* state) {
    state->karabinerInstalled = KarabinerEnvironment::isInstalled();
    // Still missing: the notice stays as it is.
    if (state->karabinerInstalled) show(state);
}

void show(State* state) {
    if (GtkWidget* previous = gtk_widget_get_first_child(state->container)) gtk_box_remove(GTK_BOX(state->container), previous);
    GtkWidget* view = state->karabinerInstalled ? state->makeEditor()
                                                : KarabinerMissingView::create([state] { recheck(state); });
    gtk_widget_set_size_request(view, ContentView::minimumWidth, ContentView::minimumHeight);
    gtk_widget_set_hexpand(view, TRUE);
    gtk_widget_set_vexpand(view, TRUE);
    gtk_box_append(GTK_BOX(state->container), view);
}

} // namespace


GtkWidget* ContentView::productEditor() {
    return KeymapWebViewGtk::makeView(KeymapWebViewGtk::makeCoordinator(), Resources::applicationDirectory());
}

GtkWidget* ContentView::create(EditorFactory makeEditor) {
    GtkWidget* container = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    auto* state = new State{container, std::move(makeEditor), KarabinerEnvironment::isInstalled()};
    g_object_set_data_full(G_OBJECT(container), stateKey, state, [](gpointer data) { delete static_cast<State*>(data); });
    show(state);
    return container;
}

bool ContentView::karabinerInstalled(GtkWidget* contentView) { return stateOf(contentView)->karabinerInstalled; }

GtkWidget* ContentView::shownView(GtkWidget* contentView) { return gtk_widget_get_first_child(contentView); }

} // namespace tarvel
