// The five NoteStore calls the importer makes, with their declared exceptions
// in each call's own order. Test-only: the fake NoteStore is generated from it.
namespace py ruru_notestore

include "types.thrift"

service NoteStore {
  list<types.Notebook> listNotebooks(1: string authenticationToken)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.Notebook createNotebook(1: string authenticationToken, 2: types.Notebook notebook)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException),

  types.NoteList findNotes(1: string authenticationToken, 2: types.NoteFilter filter,
                           3: i32 offset, 4: i32 maxNotes)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  types.Note createNote(1: string authenticationToken, 2: types.Note note)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),

  i32 deleteNote(1: string authenticationToken, 2: string guid)
    throws (1: types.RURUUserException userException,
            2: types.RURUSystemException systemException,
            3: types.RURUNotFoundException notFoundException),
}
