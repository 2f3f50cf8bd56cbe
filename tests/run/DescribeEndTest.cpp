// How a run ended, in each front end's words: the window's boxes and
// arvelo-cli's lines are compared word for word by those who read them.

#include <gtest/gtest.h>

#include "run/Observer.h"

namespace {

using Face = run::Voice::Face;
using Kind = run::Voice::Run;

TEST(DescribeEnd, GivesEachFrontEndItsOwnWords) {
    const run::FileFailure full{run::FileFailure::Kind::WriteFailed, "A.omb", 0};
    const struct {
        run::End how;
        Face face;
        Kind kind;
        const char* words;
    } cases[] = {
        {run::End::Done, Face::Window, Kind::Download, ""},
        {run::End::Empty, Face::Window, Kind::Download, "The Arvelo holds no logs."},
        {run::End::FileError, Face::Window, Kind::Download,
         "Export File Error\nwriting A.omb failed"},
        {run::End::LinkError, Face::Window, Kind::Download, "Serial Communication Error"},
        {run::End::Unexpected, Face::Window, Kind::Erase, "Unexpected Error"},
        {run::End::Unexpected, Face::Window, Kind::Survey, "Serial Communication Error"},
        {run::End::GivenUp, Face::Window, Kind::Survey, "Connection TimeOut"},
        {run::End::PortLost, Face::Window, Kind::Survey,
         "The serial port of the Arvelo stopped working."},
        {run::End::NotErased, Face::Window, Kind::Erase, "Data Erase Error"},
        {run::End::Empty, Face::CommandLine, Kind::Download, "the reader holds no logs"},
        {run::End::FileError, Face::CommandLine, Kind::Download, "writing A.omb failed"},
        {run::End::Unexpected, Face::CommandLine, Kind::Download,
         "unexpected reply from the reader"},
        {run::End::Unexpected, Face::CommandLine, Kind::Erase, "serial communication error"},
        {run::End::LinkError, Face::CommandLine, Kind::Dump, "serial communication error"},
        {run::End::PortLost, Face::CommandLine, Kind::Download,
         "the port COM5 stopped working (the reader or its adapter unplugged?)"},
        {run::End::PortLost, Face::CommandLine, Kind::Dump, "the port COM5 stopped working"},
        {run::End::GivenUp, Face::CommandLine, Kind::Download, "no answer from the reader for 9 s"},
        {run::End::Cancelled, Face::CommandLine, Kind::Erase, "interrupted"},
        {run::End::Surveyed, Face::CommandLine, Kind::Erase, ""},
        {run::End::NotErased, Face::CommandLine, Kind::Erase,
         "Data Erase Error: the memory does not read back erased"},
    };
    for (const auto& c : cases) {
        const run::Voice voice{c.face, c.kind, "COM5", run::DescribeSilence(9)};
        EXPECT_EQ(run::Describe({c.how, full}, voice), c.words)
            << static_cast<int>(c.how) << " " << static_cast<int>(c.face) << " "
            << static_cast<int>(c.kind);
    }
}

}  // namespace
