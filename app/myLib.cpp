#include "myLib.h"
#include "framework/MessageBox.h"
#include "framework/RuntimeException.h"
#include "framework/Text.h"

namespace myLib {

void InitMyLib(const std::string& appName)
{
    AppName = appName;
    MakeBundleID();
    MakeApplicationFolder();
    // Without a data folder there is nowhere to form the preferences file in; the user has
    // been told already, and the colours below must still be set for the board.
    if (ApplicationDataFolder)
        MakePrefsFileName();
    pi = 3.141592653589793;
    black = fw::RGB(0, 0, 0, 0);
    red = fw::RGB(255, 0, 0, 0);
    green = fw::RGB(0, 170, 0, 0);
    blue = fw::RGB(0, 0, 255, 0);
    CR = fw::Chr(13);
    DQUOTE = fw::Chr(34);
}

void MakeBundleID()
{
    AppBundleID = BundlePrefix + AppName;
}

void MakeApplicationFolder()
{
    fw::FolderItemRef applicationData = fw::SpecialFolder::ApplicationData();
    if (!applicationData)
        throw fw::NilObjectException("There is no folder for application data: HOME is not set to an absolute "
                                     "path, and neither is XDG_DATA_HOME.");
    ApplicationDataFolder = applicationData->Child(AppBundleID);
    if (!ApplicationDataFolder)
        fw::MsgBox("Sorry, I can't seem to create the applications data folder: ");
}

void MakePrefsFileName()
{
    if (!ApplicationDataFolder->Exists())
        ApplicationDataFolder->CreateAsFolder();
    PrefsFile = ApplicationDataFolder->Child(AppName + "Prefs");
    if (!PrefsFile)
        fw::MsgBox("Sorry, I can't seem to create the prefs folder");
}

}
