#pragma once

// The boundary between the program and its plug-ins: the only header both sides share.
//
// Binary rules (a plug-in built separately against this header works with the program
// unchanged):
//   - Interfaces are classes of pure virtual functions only, in the slot order below, with
//     no data and no virtual destructor; an implementation may add virtual functions after
//     the interface's slots, which the other side never calls.
//   - The three factories are plain extern "C" functions named createView, createAction
//     and createCondition.
//   - Text is UTF-16 (char16_t), zero-terminated. Text passed in is borrowed for the call;
//     the callee copies what it keeps. Text passed out goes into a caller buffer of
//     kQXTextCapacity code units: the callee stores an empty string first, then at most
//     kQXTextCapacity - 1 code units and a terminator.
//   - Truth values are 32-bit integers: 1 true, 0 false.
//
// Ownership: instances belong to the library that made them; the program never deletes
// one, it calls Release and makes no call on it afterwards. Contexts belong to the
// program and stay valid until the instance's destructor has called InstanceDestroyed.
// The drawing surface belongs to the program; property-page windows to the plug-in.
//
// Threads: factories, Activate/Deactivate, KeyDown/KeyUp, GetGUIController, CreateGUI,
// DestroyGUI, AcceptFiles/DropFile and Release are called on the program's GUI thread.
// UpdateImage, GetDC, the key geometry, GetProperty, SetProperty and SetActive may be
// called from any thread; InstanceDestroyed from the thread that destroys the instance.

#include <cstdint>

using QXBool = int32_t;

// The size of every text buffer passed out across the boundary, in char16_t.
constexpr int kQXTextCapacity = 512;

// A property-page parent or page window: a QWidget*, passed as an opaque pointer.
using QXWindowHandle = void*;

// A key's drawing surface: 48 x 48 pixels, 24 bits per pixel, blue-green-red byte order,
// rows bottom-up (row 0 of bits is the bottom row), stride bytes from one row to the
// next. Cleared to black when created; pixels a view does not redraw keep their content.
struct QXDrawingSurface {
    unsigned char* bits;
    int32_t width;  // 48
    int32_t height; // 48
    int32_t stride; // bytes per row, 144
};

// The plug-in's property page of one instance.
class IQXPluginGUIController {
public:
    // Creates the page as a child of parent; returns the page window, or null.
    virtual QXWindowHandle CreateGUI(QXWindowHandle parent) = 0;
    // Destroys the page; non-zero when it was destroyed.
    virtual QXBool DestroyGUI() = 0;

protected:
    ~IQXPluginGUIController() = default;
};

// Receives files dropped on a key's properties.
class IQXPluginDropTarget {
public:
    // count files are about to be dropped; non-zero accepts them.
    virtual QXBool AcceptFiles(int32_t count) = 0;
    // One file's full path, in drop order; non-zero asks for the next one.
    virtual QXBool DropFile(const char16_t* path) = 0;

protected:
    ~IQXPluginDropTarget() = default;
};

class IQXPluginInstance {
public:
    virtual IQXPluginGUIController* GetGUIController() = 0; // slot 0; null: no page
    virtual IQXPluginDropTarget* GetDropTarget() = 0;       // slot 1; null: no drops
    virtual void Release() = 0;                             // slot 2; the program lets go

protected:
    ~IQXPluginInstance() = default;
};

class IQXViewPluginInstance : public IQXPluginInstance {
public:
    virtual void Activate() = 0;   // slot 3: the key is shown; start producing pictures
    virtual void Deactivate() = 0; // slot 4: the key is hidden; stop

protected:
    ~IQXViewPluginInstance() = default;
};

class IQXActionPluginInstance : public IQXPluginInstance {
public:
    virtual void KeyDown() = 0; // slot 3: once per press
    virtual void KeyUp() = 0;   // slot 4: once per release

protected:
    ~IQXActionPluginInstance() = default;
};

// A condition reports its state through its context and is otherwise passive.
class IQXConditionPluginInstance : public IQXPluginInstance {
protected:
    ~IQXConditionPluginInstance() = default;
};

// What every instance can ask of the program.
class IQXPluginContext {
public:
    // Stores a property of the instance (kept with the layer and saved with it); ignored
    // when name or value is null.
    virtual void SetProperty(const char16_t* name, const char16_t* value) = 0; // slot 0
    // Reads a property into out (emptied first); 1 when found. Null name or out: 0.
    virtual QXBool GetProperty(const char16_t* name, char16_t* out) = 0; // slot 1
    // The identifier and the display name of the layer holding the instance; empty when
    // none. A null buffer is left alone.
    virtual void GetLayerID(char16_t* out) = 0;   // slot 2
    virtual void GetLayerName(char16_t* out) = 0; // slot 3
    // Called by the instance's destructor; the context may go afterwards.
    virtual void InstanceDestroyed() = 0; // slot 4

protected:
    ~IQXPluginContext() = default;
};

class IQXViewPluginContext : public IQXPluginContext {
public:
    // The action on the same key in the same layer when the same plug-in made it.
    virtual IQXActionPluginInstance* GetActionInstance() = 0; // slot 5
    virtual int32_t GetKeyRow() = 0;   // slot 6: keyboard row, 0 (function keys) to 5
    virtual int32_t GetKeyPlace() = 0; // slot 7: place of the key in its row
    virtual int32_t GetKeyX() = 0;     // slot 8: the key's position on the keyboard picture
    virtual int32_t GetKeyY() = 0;     // slot 9
    // The key's drawing surface; null until the view was first activated.
    virtual QXDrawingSurface* GetDC() = 0; // slot 10
    // Publishes the surface: the program copies it and the keyboard shows it. Nothing
    // happens while the view is not active. Waits until the GUI thread took the picture,
    // so never call it while the GUI thread waits for the calling thread.
    virtual void UpdateImage() = 0; // slot 11

protected:
    ~IQXViewPluginContext() = default;
};

class IQXActionPluginContext : public IQXPluginContext {
public:
    // The view on the same key in the same layer when the same plug-in made it.
    virtual IQXViewPluginInstance* GetViewInstance() = 0; // slot 5

protected:
    ~IQXActionPluginContext() = default;
};

class IQXConditionPluginContext : public IQXPluginContext {
public:
    // The condition's state: 1 active, anything else inactive. A change makes the program
    // evaluate its layers again (not while the factory that made the instance runs).
    virtual void SetActive(int32_t state) = 0; // slot 5

protected:
    ~IQXConditionPluginContext() = default;
};

// The factories a plug-in library exports (any of them). Each returns a new instance
// for a sub-plugin identifier it knows, null otherwise.
extern "C" {
typedef IQXViewPluginInstance* (*QXCreateViewFunction)(const char16_t* id,
                                                       IQXViewPluginContext* context);
typedef IQXActionPluginInstance* (*QXCreateActionFunction)(const char16_t* id,
                                                           IQXActionPluginContext* context);
typedef IQXConditionPluginInstance* (*QXCreateConditionFunction)(
    const char16_t* id, IQXConditionPluginContext* context);
}

#define QX_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
