// The FoxPro engine.
